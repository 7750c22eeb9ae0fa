// The X server the harness works on: waits with deadlines that hold on a loaded machine,
// the program's and its menu's windows found by title and their places, and the window
// manager some test runs start. Used by the rest of harness/, the tests and orlemaz-drive.
#pragma once

#include <X11/Xlib.h>
#include <chrono>
#include <functional>
#include <string>

using Clock = std::chrono::steady_clock;
// The longest any one wait lasts on an idle machine. ORLEMAZ_WAIT_SCALE (a factor, 1 when
// unset) stretches every wait's deadline on a machine that is slower or busy.
constexpr std::chrono::seconds DEFAULT_WAIT{20};

// Polls condition every 20 ms until it holds or the (scaled) time runs out; returns its
// last value.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = DEFAULT_WAIT);

// A rectangle on the screen or in a window, in pixels.
struct Rect {
    int x;
    int y;
    int width;
    int height;
};

// A window or screen pixel, origin top left.
struct WindowPoint {
    int x;
    int y;
};

// Opens the X server in DISPLAY, waiting while it resets; nullptr on time-out. Errors about
// windows that have gone (the menu, a program that has just quit) pass quietly; any other
// goes to the report set by onXError (standard error by default).
Display* openDisplay();
void onXError(std::function<void(const std::string&)> report);

// Finds a viewable window whose WM_NAME is title anywhere under the root (0 if none).
Window findWindowByName(Display* dpy, const std::string& title);

// Where a window's inside lies on the screen.
Rect screenRect(Display* dpy, Window window);

// Whether the runs are under a window manager: ORLEMAZ_WINDOW_MANAGER names one (say
// "openbox"), which the first call starts on the X server, unless one runs there already,
// and which ends with the calling process.
bool underWindowManager();
