// Opening the program's window for the tests and the benchmark.
#include "support/program_window.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <chrono>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "view/view.h"

bool openProgramWindow() {
    createWindow();
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    initScene();

    Display* dpy = glXGetCurrentDisplay();
    const Window win = glXGetCurrentDrawable();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    XWindowAttributes attributes{};
    do {
        glutMainLoopEvent();
        XGetWindowAttributes(dpy, win, &attributes);
    } while ((attributes.map_state != IsViewable || view.winW == 0.0f) &&
             std::chrono::steady_clock::now() < deadline);
    return attributes.map_state == IsViewable && view.winW != 0.0f;
}
