// The end-to-end tests' shared set-up.
#include "support/e2e.h"

#include <sys/wait.h>

const WindowPlacement WINDOW_PLACEMENTS[3] = {
    {"AsOpened", -1, -1, WINDOW_WIDTH, WINDOW_HEIGHT},
    {"MovedTo150x100", 150, 100, WINDOW_WIDTH, WINDOW_HEIGHT},
    {"ResizedTo900x700", -1, -1, 900, 700},
};

void EndToEndTest::SetUp() {
    ASSERT_NE(app.display(), nullptr) << "no X server: run inside xvfb-run";
    ASSERT_NE(app.waitForWindow(), 0u) << "the window never appeared";
    ASSERT_FALSE(app.waitForPicture(showsTable).empty()) << "the table was never drawn";
}

void PlacedEndToEndTest::SetUp() {
    ASSERT_NO_FATAL_FAILURE(EndToEndTest::SetUp());
    ASSERT_TRUE(app.applyPlacement(GetParam())) << "the window was not placed";
    camera = startView(GetParam().width, GetParam().height);
}

std::string placementName(const ::testing::TestParamInfo<WindowPlacement>& info) {
    return info.param.name;
}

void expectExitsWithZero(AppProcess& app, const std::string& what) {
    int status = 0;
    ASSERT_TRUE(app.waitForExit(&status)) << what << " did not end the program";
    ASSERT_TRUE(WIFEXITED(status)) << "the program was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
