// Left clicks on the real program's window, where the camera's arithmetic puts the rods
// and the floor: a click on a rod names it and binds it, plain motion then plays it on
// screen, a second click releases it, and a click on the floor binds nothing; with the
// window where it opened, moved and resized.
#include "support/e2e.h"

#include <regex>

namespace {

// The window point where a rod's bar crosses the given window row.
WindowPoint barPointAtRow(const ViewState& camera, double x, int row) {
    double nearZ = -10.0, farZ = 70.0; // rows grow with z across the table
    for (int i = 0; i < 60; i++) {
        const double mid = (nearZ + farZ) / 2.0;
        (windowPointOf(camera, x, rodAxisY(), mid).y < row ? nearZ : farZ) = mid;
    }
    return windowPointOf(camera, x, rodAxisY(), farZ);
}

// The same clicks with the window where it opened, moved and resized: the program reads
// window positions, wherever the window is on the screen.
using EndToEndPicking = PlacedEndToEndTest;

TEST_P(EndToEndPicking, ClicksBindAndReleaseRodsAndMotionPlaysTheBoundOne) {
    ASSERT_FALSE(app.waitForPicture(showsTable).empty());

    // Each bar over the pitch: a click names the rod and binds it, a second click at the
    // same place (no motion between) names it again and releases it.
    std::string expected;
    for (int i = 0; i < 8; i++) {
        const WindowPoint bar = windowPointOf(camera, rodX(i), rodAxisY(), OVER_PITCH_Z);
        ASSERT_TRUE(app.movePointer(bar.x, bar.y));
        ASSERT_TRUE(app.click(1));
        ASSERT_TRUE(app.click(1));
        expected += idLine(i + ROD_NAME_BASE) + idLine(i + ROD_NAME_BASE);
        ASSERT_NE(app.waitForConsole(expected), std::string::npos)
            << "rod " << i << " at " << bar.x << "," << bar.y << "; console:\n"
            << app.console();
    }
    EXPECT_EQ(app.console(), expected) << "motion with no rod bound printed something";

    // Rod 0 bound, one motion 10 pixels down (and a little left, to stay on the bar): the
    // rod slides 10 units towards the viewer and turns 3 degrees or so.
    size_t mark = app.console().size();
    const WindowPoint grip = windowPointOf(camera, rodX(0), rodAxisY(), OVER_PITCH_Z);
    const WindowPoint slid = barPointAtRow(camera, rodX(0), grip.y + 10);
    ASSERT_TRUE(app.movePointer(grip.x, grip.y));
    ASSERT_TRUE(app.click(1));
    ASSERT_NE(app.waitForConsole(idLine(2), mark), std::string::npos);
    ASSERT_TRUE(app.movePointer(slid.x, slid.y));
    const std::string moveLine = "\nMovimiento del raton fijado a la barra 2.";
    ASSERT_NE(app.waitForConsole(moveLine, mark), std::string::npos);
    EXPECT_EQ(app.console().substr(mark), idLine(2) + moveLine);
    const auto playerSlid = [&](const WindowImage& p) {
        return showsPlayer(p, camera, 0, rodX(0), firstPlayerZ(1) + 10.0) &&
               !showsPlayer(p, camera, 0, rodX(0), firstPlayerZ(1));
    };
    EXPECT_FALSE(app.waitForPicture(playerSlid).empty()) << "rod 0's player did not slide";

    // A second click on the bar releases it: motion no longer moves it or prints.
    mark = app.console().size();
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(app.movePointer(grip.x, grip.y));
    ASSERT_TRUE(app.pressKey("h"));
    ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos);
    EXPECT_EQ(app.console().substr(mark), idLine(2) + HELP_BANNER);
    EXPECT_TRUE(playerSlid(app.picture())) << "the released rod moved";

    // The floor behind the table: the scene alone, and a name that is no rod.
    mark = app.console().size();
    const WindowPoint floor = windowPointOf(camera, FLOOR_BEHIND);
    ASSERT_TRUE(app.movePointer(floor.x, floor.y));
    ASSERT_TRUE(app.click(1));
    const std::regex floorLines(" Escenario \n Id: (-?[0-9]+) \n");
    std::smatch match;
    std::string text;
    ASSERT_TRUE(waitFor([&] {
        text = app.console().substr(mark);
        return std::regex_match(text, match, floorLines);
    })) << "console after the floor click:\n"
        << text;
    const int name = std::stoi(match[1].str());
    EXPECT_TRUE(name < 2 || name > 9) << "the floor read as rod name " << name;

    // Nothing is bound after it.
    mark = app.console().size();
    ASSERT_TRUE(app.movePointer(grip.x, grip.y));
    ASSERT_TRUE(app.pressKey("h"));
    ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos);
    EXPECT_EQ(app.console().substr(mark), HELP_BANNER);
}

INSTANTIATE_TEST_SUITE_P(Placements, EndToEndPicking, ::testing::ValuesIn(WINDOW_PLACEMENTS),
                         placementName);

} // namespace
