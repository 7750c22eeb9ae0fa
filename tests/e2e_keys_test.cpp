// Every key of the real program pressed as a person would: the camera keys move the
// table where the camera's arithmetic puts it and each undoes its opposite, the help keys
// print the banner byte for byte, other keys do nothing, and Escape ends the program.
#include "support/e2e.h"

#include <functional>

namespace {

using EndToEndKeys = EndToEndTest;

struct CameraKey {
    const char* key;      // xdotool key name
    const char* opposite; // the key that undoes it
    int presses;
    std::function<void(CameraModel&)> step; // what one press does to the camera
};

// The players on the one-player rods at each end (rod 0, team 0 at x = 12; rod 7, team 1
// at x = 89), centred on z = 32.5, stand where the camera puts them.
void expectPlayersWhereTheCameraPutsThem(const WindowImage& picture, const CameraModel& camera) {
    EXPECT_TRUE(showsPlayer(picture, camera, 0, 12.0, 32.5)) << "rod 0's player";
    EXPECT_TRUE(showsPlayer(picture, camera, 1, 89.0, 32.5)) << "rod 7's player";
}

TEST_F(EndToEndKeys, EveryKeyDoesWhatItSaysAndEscapeQuits) {
    ASSERT_TRUE(app.placePointer(340, 240)); // keys go to the window under the pointer
    const WindowImage start = app.waitForPicture(showsTable);
    ASSERT_FALSE(start.empty()) << "the table was never drawn";

    // Ten presses of + bring the camera 50 units closer, enough to see which way it went.
    const CameraKey cameraKeys[] = {
        {"Left", "Right", 1, [](CameraModel& c) { c.rotY += 5.0; }},
        {"Right", "Left", 1, [](CameraModel& c) { c.rotY -= 5.0; }},
        {"Up", "Down", 1, [](CameraModel& c) { c.tiltX += 5.0; }},
        {"Down", "Up", 1, [](CameraModel& c) { c.tiltX -= 5.0; }},
        {"z", "Z", 1, [](CameraModel& c) { c.rotZ += 5.0; }},
        {"Z", "z", 1, [](CameraModel& c) { c.rotZ -= 5.0; }},
        {"plus", "minus", 10, [](CameraModel& c) { c.viewDistance -= 5.0; }},
        {"minus", "plus", 10, [](CameraModel& c) { c.viewDistance += 5.0; }},
    };
    for (const CameraKey& k : cameraKeys) {
        SCOPED_TRACE(k.key);
        CameraModel camera;
        WindowImage picture = start;
        for (int i = 0; i < k.presses; i++) {
            ASSERT_TRUE(app.pressKey(k.key));
            picture = app.waitForNewPicture(picture);
            ASSERT_FALSE(picture.empty()) << "the picture did not change";
            k.step(camera);
        }
        expectPlayersWhereTheCameraPutsThem(picture, camera);
        for (int i = 0; i < k.presses; i++) {
            ASSERT_TRUE(app.pressKey(k.opposite));
            picture = app.waitForNewPicture(picture);
            ASSERT_FALSE(picture.empty()) << "the picture did not change back";
        }
        EXPECT_EQ(picture.differences(start), 0) << k.opposite << " did not undo " << k.key;
    }
    EXPECT_EQ(app.console(), "") << "a camera key printed something";

    // h and H print the banner, and nothing else.
    size_t mark = app.console().size();
    for (const char* key : {"h", "H"}) {
        ASSERT_TRUE(app.pressKey(key));
        ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos) << key;
        EXPECT_EQ(app.console().substr(mark), HELP_BANNER) << key;
        mark = app.console().size();
    }

    // Other keys, z's neighbours and the special keys without a meaning among them, print
    // nothing and leave the picture alone; the banner after them shows they were handled.
    const WindowImage before = app.picture();
    for (const char* key : {"x", "X", "a", "1", "space", "Return", "F1", "Home", "Page_Up"}) {
        ASSERT_TRUE(app.pressKey(key)) << key;
    }
    ASSERT_TRUE(app.pressKey("h"));
    ASSERT_NE(app.waitForConsole(HELP_BANNER, mark), std::string::npos);
    EXPECT_EQ(app.console().substr(mark), HELP_BANNER) << "another key printed something";
    EXPECT_FALSE(waitFor([&] { return app.picture().differences(before) > 0; },
                         std::chrono::milliseconds(500)))
        << "another key changed the picture";

    ASSERT_TRUE(app.pressKey("Escape"));
    expectExitsWithZero(app, "Escape");
}

} // namespace
