// The Windows build (scripts/build-windows) under wine in the virtual X server, driven like
// the Linux build: its title and size, the Linux build's first picture, a table of inputs
// with what each must print, and Escape's exit status.
#include "support/e2e.h"

#include <cstdlib>
#include <regex>
#include <unistd.h>

namespace {

// Where rod index's bar crosses the pitch, and the line a click on it prints.
WindowPoint barOf(int index) {
    return windowPointOf(startView(), rodX(index), rodAxisY(), OVER_PITCH_Z);
}

bool sameAt(const WindowImage& a, const WindowImage& b, WindowPoint at) {
    const Pixel p = a.at(at.x, at.y);
    return p.r >= 0 && probeColour(p, b.at(at.x, at.y)).empty();
}

TEST(WindowsBuildUnderWine, OpensDrawsAndAnswersAsTheLinuxBuild) {
    const char* given = std::getenv("ORLEMAZ_WINDOWS_EXE");
    const std::string exe = given != nullptr ? given : ORLEMAZ_WINDOWS_EXE;
    if (access(exe.c_str(), R_OK) != 0 || !onPath("wine")) {
        GTEST_SKIP() << "no " << exe << " or no wine: scripts/build-windows --check runs this";
    }
    // wine's prefix beside the exe; no diagnostics, no offer to install .NET or a browser.
    setenv("WINEPREFIX", (exe.substr(0, exe.rfind('/')) + "/wine-prefix").c_str(), 0);
    setenv("WINEDEBUG", "-all", 0);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 0);

    // The first picture where the Linux tests look: the pitch, the floor behind the table,
    // the background and the floor either side of the floor's far edge.
    const ViewState camera = startView();
    const WindowPoint edge = windowPointOf(camera, FLOOR_FAR_EDGE);
    const WindowPoint points[] = {windowPointOf(camera, PITCH_MIDDLE),
                                  windowPointOf(camera, FLOOR_BEHIND),
                                  {10, edge.y - 3},
                                  {WINDOW_WIDTH / 2, edge.y + 3},
                                  {WINDOW_WIDTH - 10, edge.y + 3}};
    WindowImage linuxPicture;
    {
        AppProcess linuxBuild;
        ASSERT_NE(linuxBuild.waitForWindow(), 0u) << "the Linux build's window never appeared";
        linuxPicture = linuxBuild.waitForPicture(showsTable);
    }

    AppProcess app({"wine", exe});
    const Window window = app.waitForWindow(std::chrono::seconds(60));
    ASSERT_NE(window, 0u) << "the window never appeared";
    char* name = nullptr;
    ASSERT_TRUE(XFetchName(app.display(), window, &name));
    EXPECT_STREQ(name, WINDOW_TITLE);
    XFree(name);
    XWindowAttributes size{};
    EXPECT_TRUE(waitFor([&] {
        return XGetWindowAttributes(app.display(), window, &size) && size.width == WINDOW_WIDTH &&
               size.height == WINDOW_HEIGHT;
    })) << "client area "
        << size.width << " x " << size.height;
    const WindowImage first = app.waitForPicture(
        [&](const WindowImage& p) { return sameAt(p, linuxPicture, points[0]); });
    for (const WindowPoint& at : points) {
        EXPECT_TRUE(sameAt(first, linuxPicture, at)) << "at " << at.x << "," << at.y;
    }
    EXPECT_EQ(app.console(), "");

    // Without a window manager wine gives a window the keyboard once it has been clicked,
    // so the clicks come first. A released rod prints nothing on the motion before the key.
    const auto clickBar = [](int rod) {
        return [rod](AppProcess& a) {
            return a.movePointer(barOf(rod).x, barOf(rod).y) && a.click(1);
        };
    };
    const auto second = [](AppProcess& a) { return a.click(1); };
    const struct {
        const char* what;
        std::function<bool(AppProcess&)> act;
        std::string console; // everything printed after it, as a regular expression
    } cases[] = {
        {"a click on rod 0's bar binds it", clickBar(0), idLine(0 + ROD_NAME_BASE)},
        {"a second click releases it", second, idLine(0 + ROD_NAME_BASE)},
        {"a click on rod 7's bar binds it", clickBar(7), idLine(7 + ROD_NAME_BASE)},
        {"a second click releases it", second, idLine(7 + ROD_NAME_BASE)},
        {"h prints the banner",
         [](AppProcess& a) { return a.movePointer(340, 100) && a.pressKey("h"); }, HELP_BANNER},
        {"PONER/QUITAR BOLA, pressed, dragged to and released, puts the ball on; it hits a player",
         [](AppProcess& a) {
             return a.chooseMenuEntry(MENU_TOGGLE_BALL, MenuGesture::PressDragRelease);
         },
         "(Choque!\\n)+"},
        {"PONER/QUITAR BOLA, clicked open and clicked, takes it off",
         [](AppProcess& a) {
             return a.chooseMenuEntry(MENU_TOGGLE_BALL, MenuGesture::ClickThenClick);
         },
         "(Choque!\\n)*"},
        {"and the ball stays still", [](AppProcess& a) { return a.pressKey("h"); }, HELP_BANNER},
    };
    for (const auto& c : cases) {
        const size_t mark = app.console().size();
        ASSERT_TRUE(c.act(app)) << c.what << ": the input failed";
        std::string text;
        EXPECT_TRUE(waitFor([&] {
            text = app.console().substr(mark);
            return std::regex_match(text, std::regex(c.console));
        })) << c.what
            << "; printed:\n"
            << text;
    }

    ASSERT_TRUE(app.pressKey("Escape"));
    expectExitsWithZero(app, "Escape");
}

} // namespace
