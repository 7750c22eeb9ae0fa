// The program's window on the X server, however the program was started: found, read,
// moved and resized, worked with real input (xdotool, started without a shell), its pop-up
// menu opened and chosen from by freeglut's menu geometry, and a close request sent to it.
#pragma once

#include "harness/colours.h"
#include "harness/window_image.h"
#include "harness/x_server.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The title freeglut gives the pop-up menu's own window.
constexpr const char* MENU_TITLE = "freeglut menu";
// The menu's entries share its height equally inside a border that freeglut draws round them.
constexpr int MENU_BORDER = 2; // pixels

// The X key name that types a program key: a character's keysym ("plus", "z"), or an
// arrow's ("Left") for a GLUT special key; "" for any other special key.
std::string xKeyName(int key, bool special);

// How chooseMenuEntry works the menu: press, move into the entry and release there; or
// right-click to open it, move into the entry and left-click it. freeglut on Windows under
// wine needs the clicks: X sends a drag's release to the program's window, and freeglut
// reads it there against the menu's place on the screen, off by the window's own place.
enum class MenuGesture { PressDragRelease, ClickThenClick };

// Steps of one xdotool run, in screen points: they reach the X server in one burst, as fast
// input does.
class InputBurst {
  public:
    InputBurst& moveTo(int screenX, int screenY);
    InputBurst& click(int button, int times = 1, int delayMs = 0);
    InputBurst& press(int button);
    InputBurst& release(int button);
    // A key by its X name ("h", "Left", "plus"); delayMs follows the keystroke.
    InputBurst& key(const std::string& name, int delayMs = 12);
    // Sends the steps; returns whether xdotool ran them.
    bool send() const;

  private:
    std::vector<std::string> words_{"xdotool"};
};

// A window where a place or a size is put for a run, as a person might: left where it
// opened, moved, or resized. A negative x leaves the place as it is.
struct WindowPlacement {
    const char* name; // a test name's suffix
    int x;            // where the window (its frame) is moved to, pixels
    int y;
    int width; // the inside's size, pixels
    int height;
};

// The program's window on the X server in DISPLAY, however the program was started.
class WindowSession {
  public:
    WindowSession();

    Display* display() const {
        return display_;
    }
    // The program's top-level window once it is viewable (0 on time-out).
    Window waitForWindow(std::chrono::milliseconds timeout = DEFAULT_WAIT);

    // The window's current picture.
    WindowImage picture();
    // Waits for a picture that passes test; returns it, or an empty picture on time-out.
    WindowImage waitForPicture(const std::function<bool(const WindowImage&)>& test,
                               std::chrono::milliseconds timeout = DEFAULT_WAIT);
    // Waits for a picture that differs from before.
    WindowImage waitForNewPicture(const WindowImage& before,
                                  std::chrono::milliseconds timeout = DEFAULT_WAIT);

    // Where the window's inside lies on the screen now.
    Rect place();
    // Moves the window (its frame, under a window manager) or resizes its inside, as a
    // person does, and waits until the program has drawn the window at its new place or
    // size; returns whether it did.
    bool moveWindow(int x, int y);
    bool resizeWindow(int width, int height);
    // Moves and resizes the window as placement says.
    bool applyPlacement(const WindowPlacement& placement);

    // Real input through the X server. Pointer positions are window pixels, turned into
    // screen points from the window's place at the time; keys reach the window with the
    // focus: under a window manager the program's, on a bare server the one under the
    // pointer.
    bool movePointer(int x, int y);
    // The screen point of a window pixel, from the window's place now.
    WindowPoint toScreen(int x, int y);
    // Moves the pointer to (x, y) with a motion the program sees even when the pointer
    // already stood there (left by an earlier test); for a start, while motion does nothing.
    bool placePointer(int x, int y);
    bool click(int button);
    bool pressKey(const std::string& keyName);
    // Opens the pop-up menu with the right button where the pointer is, moves into entry
    // index (0 at the top) and releases there (or clicks it), as a person would; returns
    // once the menu has closed. The menu's window and entries are read from the X server.
    bool chooseMenuEntry(int index, MenuGesture gesture = MenuGesture::PressDragRelease);
    // Opens the pop-up menu with the right button where the pointer is, held down or
    // clicked, and returns where the menu lies on the screen (its width 0 when it did not
    // open); releaseMenuButton then lets the held button go at a screen point.
    Rect openMenu(bool holdButton = true);
    bool releaseMenuButton(int screenX, int screenY);
    bool menuIsOpen();
    // Where the open menu lies on the screen (its width 0 when it is closed).
    Rect menuPlace();
    // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
    bool sendCloseRequest();

  protected:
    struct Closer {
        void operator()(Display* dpy) const {
            XCloseDisplay(dpy);
        }
    };
    std::unique_ptr<Display, Closer> connection_; // the session's own, closed with it
    Display* display_ = nullptr;
    Window window_ = 0;
};
