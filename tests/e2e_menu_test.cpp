// The real program's pop-up menu, opened with the right button and used with the pointer
// as a person would: moving the model pans the picture, the ball goes on and off, and
// "Salir" ends the program; wherever the window is, the entry under the pointer is the
// one that runs. One more scenario takes the README's picture of the window.
#include "support/e2e.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <unistd.h>

namespace {

using EndToEndMenu = EndToEndTest;
using EndToEndMenuPlaced = PlacedEndToEndTest;
using ReadmePicture = EndToEndTest;

bool showsBall(const WindowImage& picture) {
    return picture.count(isBall) > 0;
}

// Whether the ball shows whole: its pixels fill a round disc that nothing cuts off.
bool showsWholeBall(const WindowImage& picture) {
    int left = picture.width(), right = -1, top = picture.height(), bottom = -1, count = 0;
    for (int y = 0; y < picture.height(); y++) {
        for (int x = 0; x < picture.width(); x++) {
            if (isBall(picture.at(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                count++;
            }
        }
    }
    const int width = right - left + 1, height = bottom - top + 1;
    // A disc fills pi / 4 of its square; a wall or a player in front would cut it.
    return count >= 60 && std::abs(width - height) <= 1 && count >= 0.72 * width * height;
}

TEST_F(EndToEndMenu, MoveModelPansTheBallGoesOnAndOffAndSalirQuits) {
    ASSERT_TRUE(app.placePointer(200, 150));
    ASSERT_FALSE(app.waitForPicture(showsTable).empty());

    // "MOVER MODELO": the menu's own motion is not seen, so the first plain motion
    // carries the whole way from where the menu was opened: 40 right pans 4, 20 up 5.
    ASSERT_TRUE(app.chooseMenuEntry(MENU_MOVE_MODEL));
    EXPECT_EQ(app.console(), "");
    ASSERT_TRUE(app.movePointer(240, 130));
    ASSERT_NE(app.waitForConsole("\nMoviendo Mundo"), std::string::npos);
    EXPECT_EQ(app.console(), "\nMoviendo Mundo");
    const ViewState start = startView();
    ViewState panned = startView();
    panned.panX = 4;
    panned.panY = 5;
    EXPECT_FALSE(app.waitForPicture([&](const WindowImage& p) {
                        return showsPlayer(p, panned, 0, rodX(0), firstPlayerZ(1)) &&
                               !showsPlayer(p, start, 0, rodX(0), firstPlayerZ(1));
                    })
                     .empty())
        << "rod 0's player did not follow the pan";

    // "PONER/QUITAR BOLA" puts the ball on; it soon meets a lowered player. Choosing it
    // also ends the panning: the motion after it pans nothing (checked at the end).
    size_t mark = app.console().size();
    ASSERT_TRUE(app.chooseMenuEntry(MENU_TOGGLE_BALL));
    ASSERT_TRUE(app.movePointer(300, 200));
    ASSERT_NE(app.waitForConsole("Choque!\n", mark), std::string::npos) << "no collision";
    EXPECT_FALSE(app.waitForPicture(showsBall).empty()) << "the ball never showed";

    // Chosen again, it takes the ball off: the ball is gone, the picture holds still and
    // no collision follows the banner printed after it.
    ASSERT_TRUE(app.chooseMenuEntry(MENU_TOGGLE_BALL));
    const WindowImage still = app.waitForPicture([&](const WindowImage& p) {
        return !showsBall(p) && !waitFor([&] { return app.picture().differences(p) > 0; },
                                         std::chrono::milliseconds(300));
    });
    EXPECT_FALSE(still.empty()) << "the ball stayed on";
    mark = app.console().size();
    ASSERT_TRUE(app.pressKey("h"));
    ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos);
    EXPECT_EQ(app.console().substr(mark), HELP_BANNER) << "the ball went on moving";
    EXPECT_EQ(app.console().find("Moviendo", app.console().find("Moviendo") + 1), std::string::npos)
        << "the view panned after another entry was chosen";

    ASSERT_TRUE(app.chooseMenuEntry(MENU_QUIT));
    expectExitsWithZero(app, "Salir");
}

// Wherever the window is, a release on an entry runs exactly that entry, a release
// outside the menu runs nothing, and a click, then a click on an entry, still works.
TEST_P(EndToEndMenuPlaced, ReleaseRunsTheEntryUnderThePointerAndNothingElse) {
    const Rect window = app.place();
    ASSERT_TRUE(app.placePointer(200, 150));

    // Outside the menu, where reading the release's window position as a screen position
    // would land on "Salir": the last entry moved by the window's place. Where that lies
    // on the menu itself (the window at the screen's corner), just below the menu.
    const Rect menu = app.openMenu();
    ASSERT_GT(menu.width, 0) << "the menu did not open";
    int x = menu.x + menu.width / 2 + window.x;
    int y = menu.y + menu.height * 7 / 8 + window.y;
    if (x < menu.x + menu.width && y < menu.y + menu.height) {
        x = menu.x + menu.width / 2;
        y = menu.y + menu.height + 10;
    }
    ASSERT_TRUE(app.releaseMenuButton(x, y));
    // A left click far from the menu closes it and picks nothing.
    ASSERT_TRUE(app.movePointer(10, 10));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(waitFor([&] { return !app.menuIsOpen(); })) << "the menu stayed open";
    ASSERT_TRUE(app.pressKey("h"));
    ASSERT_NE(app.waitForConsole(HELP_BANNER), std::string::npos) << "the program is gone";
    EXPECT_EQ(app.console(), HELP_BANNER) << "something ran";

    // Each entry as a person chooses it: "PONER/QUITAR BOLA" puts the ball on, "MOVER
    // MODELO" pans with the next motion, "MOVER BARRAS" stops the panning.
    ASSERT_TRUE(app.chooseMenuEntry(MENU_TOGGLE_BALL));
    ASSERT_NE(app.waitForConsole("Choque!\n"), std::string::npos) << "the ball is not on";
    ASSERT_TRUE(app.chooseMenuEntry(MENU_MOVE_MODEL));
    size_t mark = app.console().size();
    ASSERT_TRUE(app.movePointer(240, 130));
    ASSERT_NE(app.waitForConsole("\nMoviendo Mundo", mark), std::string::npos) << "no panning";
    ASSERT_TRUE(app.chooseMenuEntry(MENU_MOVE_RODS));
    mark = app.console().size();
    ASSERT_TRUE(app.movePointer(200, 150));
    ASSERT_TRUE(app.pressKey("h"));
    const size_t banner = app.waitForConsole(HELP_BANNER, mark);
    ASSERT_NE(banner, std::string::npos);
    EXPECT_EQ(app.console().substr(mark, banner - mark).find("Moviendo"), std::string::npos)
        << "the view still panned";

    // A right click leaves the menu open; a left click on "Salir" ends the program.
    ASSERT_TRUE(app.chooseMenuEntry(MENU_QUIT, MenuGesture::ClickThenClick));
    expectExitsWithZero(app, "Salir");
}

// Input faster than a frame, wherever the window is: events handled while the menu is open
// and the ones handled after it closed are each read as what they are. A right press
// outside the menu opens it anew there; a click on an entry and at once a click on a rod
// runs the entry and picks the rod; a double click 1 ms apart closes the menu and picks.
TEST_P(EndToEndMenuPlaced, FastInputAroundTheMenuIsReadAsTheMenuStandsWhenHandled) {
    // Rod 3's bar over the pitch: name 5.
    const WindowPoint bar = windowPointOf(camera, rodX(3), rodAxisY(), OVER_PITCH_Z);
    const WindowPoint screenBar = app.toScreen(bar.x, bar.y);
    const InputBurst rodClick = InputBurst().moveTo(screenBar.x, screenBar.y).click(1, 2, 1);
    ASSERT_TRUE(app.placePointer(40, 40));
    ASSERT_GT(app.openMenu(false).width, 0) << "the menu did not open";

    // Where the window's place and this point add up to more than the window's size.
    const WindowPoint reopenAt = app.toScreen(600, 400);
    ASSERT_TRUE(app.movePointer(600, 400));
    ASSERT_TRUE(app.click(3));
    ASSERT_TRUE(waitFor([&] {
        const Rect now = app.menuPlace();
        return now.width > 0 && now.x == reopenAt.x && now.y == reopenAt.y;
    })) << "a right press outside the menu did not open it anew there";

    // "MOVER BARRAS" and the rod in one burst: the rod binds.
    const Rect menu = app.menuPlace();
    ASSERT_TRUE(InputBurst()
                    .moveTo(menu.x + menu.width / 2, menu.y + menu.height * 3 / 8)
                    .click(1)
                    .moveTo(screenBar.x, screenBar.y)
                    .click(1)
                    .send());
    ASSERT_NE(app.waitForConsole(" Id: 5 \n"), std::string::npos) << app.console();

    // Open at the corner, away from the bar; the first click closes, the second picks. A
    // pick that does not come at all (once in some two hundred runs under openbox, not yet
    // understood) is tried once more; a pick at the wrong place fails at once.
    const std::regex picks(" (Escenario|Id: -?[0-9]+) \n");
    std::string names;
    for (int attempt = 0; attempt < 2 && names.empty(); attempt++) {
        const size_t mark = app.console().size();
        ASSERT_TRUE(app.movePointer(40, 40));
        ASSERT_GT(app.openMenu(false).width, 0) << "the menu did not open";
        ASSERT_TRUE(rodClick.send());
        ASSERT_TRUE(waitFor([&] { return !app.menuIsOpen(); })) << "the menu stayed open";
        ASSERT_TRUE(app.pressKey("h"));
        ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos)
            << "the program is gone";
        const std::string text = app.console().substr(mark);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), picks);
             it != std::sregex_iterator(); ++it) {
            names += it->str();
        }
    }
    EXPECT_EQ(names, " Id: 5 \n") << app.console();
}

INSTANTIATE_TEST_SUITE_P(Placements, EndToEndMenuPlaced, ::testing::ValuesIn(WINDOW_PLACEMENTS),
                         placementName);

// The README's picture: the camera turned a little and the ball on, in full view. The
// picture is written where ORLEMAZ_README_PICTURE says, or to a scratch file that only
// shows the picture can be written.
TEST_F(ReadmePicture, ShowsTheBallWithTheCameraTurned) {
    const char* asked = std::getenv("ORLEMAZ_README_PICTURE");
    const std::string path = asked != nullptr && *asked != '\0'
                                 ? std::string(asked)
                                 : "/tmp/orlemaz-readme-" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(app.placePointer(200, 150));
    for (const char* key : {"Left", "Up", "minus", "minus", "minus", "minus"}) {
        ASSERT_TRUE(app.pressKey(key));
    }
    ASSERT_TRUE(app.chooseMenuEntry(MENU_TOGGLE_BALL));
    const WindowImage picture = app.waitForPicture(showsWholeBall);
    ASSERT_FALSE(picture.empty()) << "the ball never came into full view";
    EXPECT_TRUE(picture.savePng(path)) << "could not write " << path;
    if (asked == nullptr || *asked == '\0') {
        EXPECT_EQ(unlink(path.c_str()), 0) << "no picture written to " << path;
    }
}

} // namespace
