// Prints where the program's own camera puts model points in its window, for the browser
// check (web/test/browser_test.mjs): sets the view, calls reshape with the window size,
// which loads the projection and the camera, and projects each point with gluProject
// through the matrices and the viewport the program loaded.
// Usage: camera_points WIDTH HEIGHT TILT_X ROT_Y ROT_Z DISTANCE PAN_X PAN_Y X Y Z [X Y Z ...]
// Prints one JSON array of [x, y] window pixels, origin top left: the pixel each point falls
// in, as X numbers a pointer's position (both coordinates rounded down).
#include <GL/glut.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/app.h"
#include "app/scene_state.h"
#include "view/view.h"

constexpr int VIEW_ARGS = 8; // the window's size, then the view's six numbers

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    std::vector<double> numbers;
    for (int i = 1; i < argc; i++) {
        char* end = nullptr;
        numbers.push_back(std::strtod(argv[i], &end));
        if (end == argv[i] || *end != '\0') {
            numbers.clear();
            break;
        }
    }
    if (numbers.size() < VIEW_ARGS + 3 || (numbers.size() - VIEW_ARGS) % 3 != 0) {
        std::fprintf(stderr, "usage: camera_points WIDTH HEIGHT TILT_X ROT_Y ROT_Z DISTANCE "
                             "PAN_X PAN_Y X Y Z [X Y Z ...]\n");
        return 2;
    }
    const int width = static_cast<int>(numbers[0]);
    const int height = static_cast<int>(numbers[1]);
    view.tiltX = static_cast<float>(numbers[2]);
    view.rotY = static_cast<float>(numbers[3]);
    view.rotZ = static_cast<float>(numbers[4]);
    view.viewDistance = static_cast<float>(numbers[5]);
    view.panX = static_cast<int>(numbers[6]);
    view.panY = static_cast<int>(numbers[7]);

    createWindow();
    reshape(width, height);
    GLdouble modelview[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);

    std::printf("[");
    for (size_t i = VIEW_ARGS; i < numbers.size(); i += 3) {
        GLdouble x = 0.0, y = 0.0, z = 0.0;
        gluProject(numbers[i], numbers[i + 1], numbers[i + 2], modelview, projection, viewport, &x,
                   &y, &z);
        std::printf("%s[%d, %d]", i == VIEW_ARGS ? "" : ", ", static_cast<int>(std::floor(x)),
                    static_cast<int>(std::floor(height - y)));
    }
    std::printf("]\n");
    std::fflush(stdout);
    return 0;
}
