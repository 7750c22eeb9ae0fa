// One freeglut window per test binary inside the virtual X server, and the helpers that
// read back what the handlers did to it.
#include "support/gl_test_env.h"

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "support/program_window.h"
#include "view/view.h"

void GlWindowEnvironment::SetUp() {
    int argc = 1;
    char name[] = "orlemaz-tests";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    // The window is mapped and reshaped before any test reads it.
    ASSERT_TRUE(openProgramWindow()) << "the test window was never mapped";
}

void SceneTest::SetUp() {
    resetScene();
}

void resetScene() {
    tableDims = TableDims{};
    for (Rod& rod : rods) {
        rod = Rod{};
    }
    ball = BallState{};
    view = ViewState{};
    interaction = InteractionState{};
    initScene();
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
}

Rgb readWindowPixel(int x, int y) {
    Display* dpy = glXGetCurrentDisplay();
    const Window win = glXGetCurrentDrawable();
    glFinish();
    XSync(dpy, False);
    // Reading outside the window is an X protocol error, which would end the process.
    XWindowAttributes attributes{};
    XGetWindowAttributes(dpy, win, &attributes);
    if (x < 0 || y < 0 || x >= attributes.width || y >= attributes.height) {
        ADD_FAILURE() << "pixel " << x << "," << y << " lies outside the window";
        return {-1, -1, -1};
    }
    XImage* image = XGetImage(dpy, win, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) {
        ADD_FAILURE() << "XGetImage failed at " << x << "," << y;
        return {-1, -1, -1};
    }
    const unsigned long pixel = XGetPixel(image, 0, 0);
    const Rgb rgb = {static_cast<int>((pixel & image->red_mask) >> 16),
                     static_cast<int>((pixel & image->green_mask) >> 8),
                     static_cast<int>(pixel & image->blue_mask)};
    XDestroyImage(image);
    return rgb;
}

GLint stackDepth(GLenum which) {
    GLint depth = 0;
    glGetIntegerv(which, &depth);
    return depth;
}

Mat4 readMatrix(GLenum which) {
    Mat4 matrix{};
    glGetDoublev(which, matrix.m);
    return matrix;
}

bool projectToWindow(double x, double y, double z, double* winX, double* winY) {
    const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
    const Mat4 projection = readMatrix(GL_PROJECTION_MATRIX);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    double wx = 0.0, wy = 0.0, wz = 0.0;
    if (gluProject(x, y, z, modelview.m, projection.m, viewport, &wx, &wy, &wz) != GL_TRUE) {
        return false;
    }
    *winX = wx;
    *winY = viewport[3] - wy;
    return wz > 0.0 && wz < 1.0;
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
