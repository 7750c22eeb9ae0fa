// Entry point of the test binaries that share one real window.
#include "support/gl_test_env.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests re-run the binary rather than fork it: a forked copy of a process with
    // the renderer's threads running cannot exit safely.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::AddGlobalTestEnvironment(new GlWindowEnvironment);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    // Look for leaks now, while the renderer's driver is loaded: it is unloaded when the
    // display closes at exit, and its blocks could then no longer be named by library.
    __lsan_do_leak_check();
#endif
    return result;
}
