// The real program starts, opens its titled window at its size and position, and closes.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

#include "app/scene_state.h"
#include "support/app_process.h"

namespace {

TEST(EndToEndStartup, OpensTheTitledWindowAtItsSize) {
    AppProcess app;
    ASSERT_NE(app.display(), nullptr) << "no X server: run inside xvfb-run";
    const Window window = app.waitForWindow();
    ASSERT_NE(window, 0u) << "the window never appeared";

    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(app.display(), window, &attributes));
    EXPECT_EQ(attributes.width, WINDOW_WIDTH);
    EXPECT_EQ(attributes.height, WINDOW_HEIGHT);
    int x = -1, y = -1;
    Window child = 0;
    XTranslateCoordinates(app.display(), window, DefaultRootWindow(app.display()), 0, 0, &x, &y,
                          &child);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);

    char* name = nullptr;
    ASSERT_TRUE(XFetchName(app.display(), window, &name));
    EXPECT_STREQ(name, "KORVANTE : ORLEMAZ");
    XFree(name);

    // Escape ends the program at once with status 0.
    ASSERT_EQ(runCommand("xdotool key --window " + std::to_string(window) + " Escape"), 0);
    int status = 0;
    ASSERT_TRUE(app.waitForExit(&status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
