// The program's window for code that calls its handlers in its own process (the handler
// tests and the benchmark): opened as main opens it, waited for until the X server shows
// it, and read back; and the console captured while handlers print.
#pragma once

#include <string>

#include "harness/window_image.h"

// Opens the window, registers display and reshape, runs initScene and processes events
// until the window is viewable and reshaped; false if it never was. NOTE: glutInit first.
bool openProgramWindow();

// The window as the X server shows it after the last frame: all of it, or the width x
// height pixels at (x, y) (empty when they do not lie inside it).
WindowImage grabProgramWindow(int x = 0, int y = 0, int width = -1, int height = -1);

// Redirects standard output into a scratch file for the lifetime of the object.
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
