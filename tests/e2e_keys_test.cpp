// Every key of the real program pressed as a person would: the camera keys move the
// table where the camera's arithmetic puts it and each undoes its opposite, the help keys
// print the banner byte for byte, other keys do nothing, and Escape ends the program.
#include "support/e2e.h"

#include <string>

namespace {

using EndToEndKeys = EndToEndTest;

// The players on the one-player rods at each end (rod 0, team 0 at x = 12; rod 7, team 1
// at x = 89), centred on z = 32.5, stand where the camera puts them.
void expectPlayersWhereTheCameraPutsThem(const WindowImage& picture, const ViewState& camera) {
    EXPECT_TRUE(showsPlayer(picture, camera, 0, rodX(0), firstPlayerZ(1))) << "rod 0's player";
    EXPECT_TRUE(showsPlayer(picture, camera, 1, rodX(7), firstPlayerZ(1))) << "rod 7's player";
}

TEST_F(EndToEndKeys, EveryKeyDoesWhatItSaysAndEscapeQuits) {
    // Keys go to the window under the pointer.
    ASSERT_TRUE(app.placePointer(WINDOW_WIDTH / 2, WINDOW_HEIGHT / 2));
    const WindowImage start = app.waitForPicture(showsTable);
    ASSERT_FALSE(start.empty()) << "the table was never drawn";

    for (const CameraKey& k : CAMERA_KEYS) {
        const std::string key = xKeyName(k.key, k.special);
        const std::string opposite = xKeyName(k.opposite, k.special);
        SCOPED_TRACE(key);
        // Ten presses of + or - move the camera 50 units, enough to see which way it went.
        const int presses = k.field == &ViewState::viewDistance ? 10 : 1;
        ViewState camera = startView();
        WindowImage picture = start;
        for (int i = 0; i < presses; i++) {
            ASSERT_TRUE(app.pressKey(key));
            picture = app.waitForNewPicture(picture);
            ASSERT_FALSE(picture.empty()) << "the picture did not change";
            camera.*k.field = static_cast<float>(camera.*k.field + k.step);
        }
        expectPlayersWhereTheCameraPutsThem(picture, camera);
        for (int i = 0; i < presses; i++) {
            ASSERT_TRUE(app.pressKey(opposite));
            picture = app.waitForNewPicture(picture);
            ASSERT_FALSE(picture.empty()) << "the picture did not change back";
        }
        EXPECT_EQ(picture.differences(start), 0) << opposite << " did not undo " << key;
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
