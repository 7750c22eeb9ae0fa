// Test support for tests that call the program's handlers directly: one real freeglut
// window per test binary, a fixture that puts the scene state back to its start-up values,
// pixel read-back from the X server and capture of the console.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <string>

// The RGB of one window pixel as the X server shows it, each channel 0 to 255.
struct Rgb {
    int r;
    int g;
    int b;
};

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

// Reads pixel (x, y) of the window, origin top left, from the X server after the last swap.
Rgb readWindowPixel(int x, int y);

// Current depth of the given matrix stack (GL_MODELVIEW_STACK_DEPTH or
// GL_PROJECTION_STACK_DEPTH).
GLint stackDepth(GLenum which);

// Reads a 4 x 4 matrix (column-major) with glGetDoublev.
struct Mat4 {
    double m[16];
};
Mat4 readMatrix(GLenum which);

// Projects a model point through the current modelview and projection matrices and the
// viewport to window pixels, origin top left. Returns false when behind the camera.
bool projectToWindow(double x, double y, double z, double* winX, double* winY);

// Redirects standard output into a buffer for the lifetime of the object.
// NOTE: GoogleTest reports failures on standard output too, so a failing check made while a
// capture is open is swallowed: end the capture's scope before checking what it caught.
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    // Everything written to standard output since construction, from byte offset from on.
    std::string text(size_t from = 0);

  private:
    int savedFd_;
    int fileFd_;
};
