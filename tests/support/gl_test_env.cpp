// One freeglut window per test binary inside the virtual X server, and the helpers that
// read back what the handlers did to it.
#include "support/gl_test_env.h"

#include <GL/freeglut.h>
#include <algorithm>

#include "app/app.h"
#include "app/scene_state.h"
#include "view/view.h"

void GlWindowEnvironment::SetUp() {
    int argc = 1;
    char name[] = "orlemaz-tests";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    // The window is mapped and reshaped before any test reads it.
    ASSERT_TRUE(openProgramWindow()) << "the test window was never mapped";
}

void resetScene() {
    tableDims = TableDims{};
    std::fill(std::begin(rods), std::end(rods), Rod{});
    ball = BallState{};
    view = ViewState{};
    interaction = InteractionState{};
    initScene();
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
}

Pixel readWindowPixel(int x, int y) {
    const WindowImage pixel = grabProgramWindow(x, y, 1, 1);
    if (pixel.empty()) {
        ADD_FAILURE() << "pixel " << x << "," << y << " lies outside the window";
        return {-1, -1, -1};
    }
    return pixel.at(0, 0);
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

std::string consoleOf(const std::function<void()>& handler) {
    ConsoleCapture console;
    handler();
    return console.text();
}
