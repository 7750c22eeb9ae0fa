// Support for tests that call the program's handlers directly: one real freeglut window per
// binary (harness/in_process.h, with the console's capture), a fixture that resets the scene
// state, pixels and matrices read back, and the camera model and colours (harness/colours.h).
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <functional>
#include <string>

#include "harness/colours.h"
#include "harness/in_process.h"

// Opens the shared window (hidden from the tests' point of view: handlers draw into it).
class GlWindowEnvironment : public ::testing::Environment {
  public:
    void SetUp() override;
};

// Puts every scene record back to its load-time value, runs initScene and reshapes the
// window to its start-up size.
void resetScene();

// Every test starts from the state the program has after start-up and the first reshape.
class SceneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetScene();
    }
};

// What handler prints on the console. Captured around the call only, so that a failing check
// after it still reaches the test log.
std::string consoleOf(const std::function<void()>& handler);

// Reads pixel (x, y) of the window, origin top left, from the X server after the last swap;
// a pixel outside the window fails the test.
Pixel readWindowPixel(int x, int y);

// Current depth of a matrix stack (GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH).
GLint stackDepth(GLenum which);

// Reads a 4 x 4 matrix (column-major) with glGetDoublev.
struct Mat4 {
    double m[16];
};
Mat4 readMatrix(GLenum which);
