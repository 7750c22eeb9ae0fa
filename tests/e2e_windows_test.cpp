// The Windows build (scripts/build-windows) run under wine in the virtual X server and driven
// like the Linux build: its titled window at its size, the same first picture as the Linux
// build's, then a table of inputs and what each must print, and Escape's exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>

#include "support/app_process.h"

namespace {

constexpr double ROD_Y = 30.0;      // the rods' axes: legs 20, then 10 up
constexpr double OVER_PITCH = 20.0; // a z where every bar lies over the pitch

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Where rod index's bar (at x = 11 index + 12) crosses the pitch, in window pixels at the
// start-up camera.
WindowPoint barOf(int index) {
    return windowPointOf(CameraModel{}, 11.0 * index + 12.0, ROD_Y, OVER_PITCH);
}

// Rod index answers to the name index + 2.
std::string idLine(int index) {
    return " Id: " + std::to_string(index + 2) + " \\n";
}

// One input to the running program and, as a regular expression, everything the console
// must show after it.
struct WineCase {
    const char* what;
    std::function<bool(AppProcess&)> act;
    std::string console;
};

TEST(WindowsBuildUnderWine, OpensDrawsAndAnswersAsTheLinuxBuild) {
    const char* exeOverride = std::getenv("ORLEMAZ_WINDOWS_EXE");
    const std::string exe = exeOverride != nullptr ? exeOverride : ORLEMAZ_WINDOWS_EXE;
    if (!exists(exe) || runCommand("command -v wine >/dev/null") != 0) {
        GTEST_SKIP() << "no " << exe << " or no wine: run scripts/build-windows --check";
    }
    // A prefix of its own beside the exe, made once (scripts/build-windows); no wine
    // diagnostics, and no offer to install .NET or a browser engine.
    const std::string exeDir = exe.substr(0, exe.find_last_of('/'));
    setenv("WINEPREFIX", (exeDir + "/wine-prefix").c_str(), 0);
    setenv("WINEDEBUG", "-all", 0);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 0);

    // The points of the first picture that the Linux tests check, read from the Linux build.
    const CameraModel camera;
    const WindowPoint farEdge = windowPointOf(camera, 50.0, 0.0, -500.0);
    const struct {
        const char* what;
        WindowPoint at;
    } points[] = {
        {"pitch", windowPointOf(camera, 50.0, 21.0, 20.0)},
        {"floor behind the table", windowPointOf(camera, 50.0, 0.0, -200.0)},
        {"background, left", {10, farEdge.y - 3}},
        {"floor at its far edge, left", {10, farEdge.y + 3}},
        {"background, middle", {340, farEdge.y - 3}},
        {"floor at its far edge, middle", {340, farEdge.y + 3}},
        {"background, right", {670, farEdge.y - 3}},
        {"floor at its far edge, right", {670, farEdge.y + 3}},
    };
    const auto sameAt = [&](const WindowImage& a, const WindowImage& b, WindowPoint at) {
        const Pixel p = a.at(at.x, at.y), q = b.at(at.x, at.y);
        return std::abs(p.r - q.r) <= 3 && std::abs(p.g - q.g) <= 3 && std::abs(p.b - q.b) <= 3;
    };
    WindowImage linuxPicture;
    {
        AppProcess linuxBuild;
        ASSERT_NE(linuxBuild.waitForWindow(), 0u) << "the Linux build's window never appeared";
        linuxPicture = linuxBuild.waitForPicture(
            [](const WindowImage& p) { return p.count(isTeam0Shirt) > 0; });
        ASSERT_FALSE(linuxPicture.empty()) << "the Linux build drew no table";
    }

    AppProcess app({"wine", exe});
    ASSERT_NE(app.display(), nullptr) << "no X server: run inside xvfb-run";
    const Window window = app.waitForWindow(std::chrono::seconds(60));
    ASSERT_NE(window, 0u) << "the window never appeared";
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(app.display(), window, &name));
    EXPECT_STREQ(name, "KORVANTE : ORLEMAZ");
    XFree(name);
    XWindowAttributes attributes{};
    EXPECT_TRUE(waitFor([&] {
        return XGetWindowAttributes(app.display(), window, &attributes) != 0 &&
               attributes.width == 680 && attributes.height == 480;
    })) << "client area "
        << attributes.width << " x " << attributes.height;

    const WindowImage picture = app.waitForPicture(
        [&](const WindowImage& p) { return sameAt(p, linuxPicture, points[0].at); });
    ASSERT_FALSE(picture.empty()) << "the pitch never showed";
    for (const auto& point : points) {
        const Pixel p = picture.at(point.at.x, point.at.y);
        const Pixel q = linuxPicture.at(point.at.x, point.at.y);
        EXPECT_TRUE(sameAt(picture, linuxPicture, point.at))
            << point.what << " at " << point.at.x << "," << point.at.y << ": " << p.r << " " << p.g
            << " " << p.b << " under wine, " << q.r << " " << q.g << " " << q.b << " on Linux";
    }
    EXPECT_EQ(picture.count(isBall), 0);
    EXPECT_EQ(app.console(), "");

    // Without a window manager wine hands a window the keyboard only once it has been
    // clicked, so the clicks come first. After a release, motion prints nothing.
    const WindowPoint aside = windowPointOf(camera, 50.0, 0.0, -200.0);
    const WineCase cases[] = {
        {"a click on rod 0's bar binds it",
         [](AppProcess& a) { return a.movePointer(barOf(0).x, barOf(0).y) && a.click(1); },
         idLine(0)},
        {"a second click releases it", [](AppProcess& a) { return a.click(1); }, idLine(0)},
        {"a click on rod 7's bar binds it",
         [](AppProcess& a) { return a.movePointer(barOf(7).x, barOf(7).y) && a.click(1); },
         idLine(7)},
        {"a second click releases it", [](AppProcess& a) { return a.click(1); }, idLine(7)},
        {"h prints the banner",
         [&](AppProcess& a) { return a.movePointer(aside.x, aside.y) && a.pressKey("h"); },
         "\\n PROYECTO CAD\\n ORLEMAZ\\n Escape: Salir\\n\\n\\n"},
        {"PONER/QUITAR BOLA puts the ball on, and it hits a player",
         [](AppProcess& a) { return a.chooseMenuEntry(2, MenuGesture::ClickThenClick); },
         "(Choque!\\n)+"},
    };
    for (const WineCase& c : cases) {
        const size_t mark = app.console().size();
        ASSERT_TRUE(c.act(app)) << c.what << ": the input failed";
        const std::regex expected(c.console);
        std::string text;
        EXPECT_TRUE(waitFor([&] {
            text = app.console().substr(mark);
            return std::regex_match(text, expected);
        })) << c.what
            << "; console after it:\n"
            << text;
    }
    EXPECT_FALSE(
        app.waitForPicture([](const WindowImage& p) { return p.count(isBall) > 0; }).empty())
        << "no ball on the table";

    ASSERT_TRUE(app.pressKey("Escape"));
    int status = 0;
    ASSERT_TRUE(app.waitForExit(&status)) << "Escape did not end the program";
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
