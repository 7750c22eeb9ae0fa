// The real program starts, opens its titled window at its size and position with the
// table where the start-up camera puts it, and ends with status 0 on Escape and on a close
// request from the window system.
#include "support/e2e.h"

#include <X11/Xutil.h>

namespace {

using EndToEndStartup = EndToEndTest;

TEST_F(EndToEndStartup, OpensTheTitledWindowAtItsSize) {
    const Window window = app.waitForWindow();
    ASSERT_NE(window, 0u) << "the window never appeared";

    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(app.display(), window, &attributes));
    EXPECT_EQ(attributes.width, WINDOW_WIDTH);
    EXPECT_EQ(attributes.height, WINDOW_HEIGHT);
    // The program asks for the screen's corner. A window manager frames the window and
    // keeps the request in the size hints; a bare server puts the inside there.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(app.display(), window, &hints, &supplied));
    EXPECT_TRUE(hints.flags & USPosition);
    EXPECT_EQ(hints.x, WINDOW_X);
    EXPECT_EQ(hints.y, WINDOW_Y);
    if (!underWindowManager()) {
        EXPECT_EQ(app.place().x, WINDOW_X);
        EXPECT_EQ(app.place().y, WINDOW_Y);
    }
    // The class a desktop matches to the program's launcher.
    XClassHint classHint{};
    ASSERT_TRUE(XGetClassHint(app.display(), window, &classHint));
    EXPECT_STREQ(classHint.res_name, "orlemaz");
    EXPECT_STREQ(classHint.res_class, "Orlemaz");
    XFree(classHint.res_name);
    XFree(classHint.res_class);

    char* name = nullptr;
    ASSERT_TRUE(XFetchName(app.display(), window, &name));
    EXPECT_STREQ(name, WINDOW_TITLE);
    XFree(name);

    // Escape ends the program at once with status 0.
    ASSERT_TRUE(app.placePointer(WINDOW_WIDTH / 2, WINDOW_HEIGHT / 2));
    ASSERT_TRUE(app.pressKey("Escape"));
    expectExitsWithZero(app, "Escape");
}

TEST_F(EndToEndStartup, ShowsTheTableWhereTheStartUpCameraPutsIt) {
    const ViewState camera = startView();

    // The first drawn frame: the pitch's grey where the camera puts the pitch.
    const WindowPoint pitch = windowPointOf(camera, PITCH_MIDDLE);
    const Pixel pitchColour = litColour(MAT_PITCH, 0, 1, 0);
    const WindowImage picture = app.waitForPicture([&](const WindowImage& image) {
        return probeColour(image.at(pitch.x, pitch.y), pitchColour).empty();
    });
    ASSERT_FALSE(picture.empty()) << "the pitch never showed at " << pitch.x << "," << pitch.y;

    // The floor runs to its far edge, parallel to the window's top at this
    // view; the black background lies beyond it. The floor also shows behind the table.
    const Pixel floorColour = litColour(MAT_FLOOR, 0, 1, 0);
    const WindowPoint farEdge = windowPointOf(camera, FLOOR_FAR_EDGE);
    const WindowPoint behind = windowPointOf(camera, FLOOR_BEHIND);
    for (int x : {10, WINDOW_WIDTH / 2, WINDOW_WIDTH - 10}) {
        EXPECT_EQ(probeColour(picture.at(x, farEdge.y - 3), {0, 0, 0}), "") << "background";
        EXPECT_EQ(probeColour(picture.at(x, farEdge.y + 3), floorColour), "")
            << "floor at its far edge";
    }
    EXPECT_EQ(probeColour(picture.at(behind.x, behind.y), floorColour), "")
        << "floor behind the table";

    // Both teams' shirts on the one-player rods at each end (rod 0, team 0 at x = 12;
    // rod 7, team 1 at x = 89), the player centred on z = 32.5.
    EXPECT_TRUE(showsPlayer(picture, camera, 0, rodX(0), firstPlayerZ(1))) << "rod 0's player";
    EXPECT_TRUE(showsPlayer(picture, camera, 1, rodX(7), firstPlayerZ(1))) << "rod 7's player";
    EXPECT_FALSE(showsPlayer(picture, camera, 1, rodX(0), firstPlayerZ(1)))
        << "rod 0's player in blue";
    EXPECT_FALSE(showsPlayer(picture, camera, 0, rodX(7), firstPlayerZ(1)))
        << "rod 7's player in white";
    // The ball is off at start-up.
    EXPECT_EQ(picture.count(isBall), 0);
    EXPECT_EQ(app.console(), "");
}

TEST_F(EndToEndStartup, ACloseRequestFromTheWindowSystemEndsTheProgram) {
    ASSERT_TRUE(app.sendCloseRequest());
    expectExitsWithZero(app, "the close request");
}

} // namespace
