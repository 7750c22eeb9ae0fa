// Test support for tests that call the program's handlers directly: one real freeglut
// window per test binary (harness/in_process.h, with the console's capture), a fixture that
// puts the scene state back to its start-up values, and pixels and matrices read back; the
// camera model and the colour checks (harness/colours.h) come with it.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <string>

#include "harness/colours.h"
#include "harness/in_process.h"

// Opens the shared window (hidden from the tests' point of view: handlers draw into it).
class GlWindowEnvironment : public ::testing::Environment {
  public:
    void SetUp() override;
};

// Every test starts from the state the program has after start-up and the first reshape.
class SceneTest : public ::testing::Test {
  protected:
    void SetUp() override;
};

// Puts every scene record back to its load-time value, runs initScene and reshapes the
// window to its start-up size.
void resetScene();

// Reads pixel (x, y) of the window, origin top left, from the X server after the last swap;
// a pixel outside the window fails the test.
Pixel readWindowPixel(int x, int y);

// Current depth of the given matrix stack (GL_MODELVIEW_STACK_DEPTH or
// GL_PROJECTION_STACK_DEPTH).
GLint stackDepth(GLenum which);

// Reads a 4 x 4 matrix (column-major) with glGetDoublev.
struct Mat4 {
    double m[16];
};
Mat4 readMatrix(GLenum which);
