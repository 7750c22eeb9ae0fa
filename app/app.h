// Application shell: the fixed OpenGL state, the start-up rod table and the console.
// main (app/main.cpp) calls initScene once, after the window and the callbacks exist.
#pragma once

// Lets GCC and Clang check a printf-like function's arguments against its format; other
// compilers (MSVC) see nothing.
#if defined(__GNUC__) || defined(__clang__)
#define PRINTF_LIKE(formatIndex, firstArgument)                                                    \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PRINTF_LIKE(formatIndex, firstArgument)
#endif

// Opens the program's window: 680 x 480 pixels at (0, 0), double-buffered RGB with a depth
// buffer, titled. NOTE: glutInit must have run.
void createWindow();

// Names the window's class for desktops (on X11 its WM_CLASS, which freeglut leaves unset);
// elsewhere there is nothing to name. NOTE: the window must be current.
void setWindowClass();

// Turns on the mend that keeps freeglut's pop-up menu choosing the entry under the pointer
// in a framed or moved window, where freeglut needs it (on X11); it registers GLUT's menu
// status callback. NOTE: the window must be current.
void installMenuMend();

// Enables the fixed OpenGL state every frame relies on and fills the rod table.
void initScene();

// Writes one formatted line to standard output and flushes it, so that messages which
// begin rather than end with a line break still show at once.
void consoleMessage(const char* format, ...) PRINTF_LIKE(1, 2);
