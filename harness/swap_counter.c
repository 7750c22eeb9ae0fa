// Swap counter: preloaded (LD_PRELOAD) into an unchanged GLX program, it passes every
// glXSwapBuffers on to the real one, then appends "N SECONDS.NANOSECONDS" (swap number, wall
// clock) to the file named by ORLEMAZ_SWAP_LOG. scripts/fps counts frames over a fixed time
// and times the first frame from it, scripts/soak counts the frames of its run.
#define _GNU_SOURCE
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

typedef void (*SwapBuffersFn)(Display*, GLXDrawable);

static SwapBuffersFn realSwapBuffers = NULL;
static int logFd = -1;              // the swap log, or -1 when ORLEMAZ_SWAP_LOG is not set
static unsigned long swapCount = 0; // swaps so far

// Opens the swap log once, when the program is loaded.
__attribute__((constructor)) static void openSwapLog(void) {
    const char* path = getenv("ORLEMAZ_SWAP_LOG");
    if (path != NULL && path[0] != '\0') {
        logFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    }
}

// Presents the frame, then records when it was presented. One unbuffered write per swap,
// so the log is complete whenever and however the program ends.
void glXSwapBuffers(Display* dpy, GLXDrawable drawable) {
    if (realSwapBuffers == NULL) {
        realSwapBuffers = (SwapBuffersFn)dlsym(RTLD_NEXT, "glXSwapBuffers");
        if (realSwapBuffers == NULL) {
            return;
        }
    }
    realSwapBuffers(dpy, drawable);
    swapCount++;
    if (logFd < 0) {
        return;
    }
    struct timespec now = {0, 0};
    clock_gettime(CLOCK_REALTIME, &now);
    char line[64];
    const int length = snprintf(line, sizeof line, "%lu %lld.%09ld\n", swapCount,
                                (long long)now.tv_sec, now.tv_nsec);
    if (length > 0 && write(logFd, line, (size_t)length) < 0) {
        logFd = -1; // the log is gone: keep presenting, stop recording
    }
}
