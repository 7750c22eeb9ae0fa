// The virtual X server the end-to-end tests run on: waiting with deadlines, finding windows
// and their places, the window placements the tests try, and the window manager some runs
// start.
#pragma once

// GoogleTest first: Xlib's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds DEFAULT_WAIT{20};

// Polls condition until it holds or the time runs out; returns its last value.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = DEFAULT_WAIT);

// Runs a shell command (xdotool and friends); returns its exit status.
int runCommand(const std::string& command);

// Finds a viewable window whose WM_NAME is title anywhere under the root (0 if none).
Window findWindowByName(Display* dpy, const std::string& title);

// A rectangle on the screen or in a window, in pixels.
struct Rect {
    int x;
    int y;
    int width;
    int height;
};

// Where a window's inside lies on the screen.
Rect screenRect(Display* dpy, Window window);

// Where a test puts the program's window before it starts, as a person might: left where
// it opened, moved, or resized. A negative x leaves the place as it is.
struct WindowPlacement {
    const char* name; // a test name's suffix
    int x;            // where the window (its frame) is moved to, pixels
    int y;
    int width; // the inside's size, pixels
    int height;
};
extern const WindowPlacement WINDOW_PLACEMENTS[3];
// How GoogleTest names a placement in its messages.
inline void PrintTo(const WindowPlacement& placement, std::ostream* out) {
    *out << placement.name;
}

// Whether the tests run under a window manager: ORLEMAZ_WINDOW_MANAGER names one (say
// "openbox"), which the first call starts on the test's X server, unless one runs there
// already, and which ends with the test process.
bool underWindowManager();

// Opens the test's X server (DISPLAY), waiting while it resets, with X errors about
// vanished windows ignored and any other one failing the test; nullptr on time-out.
Display* openTestDisplay();
