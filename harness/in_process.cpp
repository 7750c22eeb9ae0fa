// The program's window opened in the calling process, read back from the X server, and its
// console captured.
#include "harness/in_process.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "harness/x_server.h"
#include "view/view.h"

bool openProgramWindow() {
    createWindow();
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    initScene();

    Display* dpy = glXGetCurrentDisplay();
    const Window win = glXGetCurrentDrawable();
    XWindowAttributes attributes{};
    return waitFor([&] {
        glutMainLoopEvent();
        XGetWindowAttributes(dpy, win, &attributes);
        return attributes.map_state == IsViewable && view.winW != 0.0f;
    });
}

WindowImage grabProgramWindow(int x, int y, int width, int height) {
    Display* dpy = glXGetCurrentDisplay();
    glFinish();
    XSync(dpy, False); // the last frame has reached the X server
    return WindowImage::grab(dpy, glXGetCurrentDrawable(), x, y, width, height);
}

ConsoleCapture::ConsoleCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/orlemaz-console-XXXXXX";
    fileFd_ = mkstemp(path);
    unlink(path);
    savedFd_ = dup(STDOUT_FILENO);
    dup2(fileFd_, STDOUT_FILENO);
}

ConsoleCapture::~ConsoleCapture() {
    std::fflush(stdout);
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
    close(fileFd_);
}

std::string ConsoleCapture::text(size_t from) {
    std::fflush(stdout);
    std::string out;
    char chunk[4096];
    ssize_t n = 0;
    off_t offset = static_cast<off_t>(from);
    while ((n = pread(fileFd_, chunk, sizeof chunk, offset)) > 0) {
        out.append(chunk, static_cast<size_t>(n));
        offset += n;
    }
    return out;
}
