// The real program driven from outside: its window found on the X server, read, moved and
// worked with real input (xdotool, started without a shell), its menu chosen from, and a
// close request sent to it; and, for a run the harness starts itself, the program's process
// and its console read as it writes.
#pragma once

#include "harness/camera_model.h"
#include "harness/program_facts.h"
#include "harness/window_image.h"
#include "harness/x_server.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

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

// One run of the real program, started by the harness. The destructor kills it if it is
// still running, and the program dies with the harness's process whatever ends that.
class AppProcess : public WindowSession {
  public:
    // Starts the program built beside the harness, or the given command line (for example
    // wine with the Windows build). The console reads with LF line endings either way:
    // Windows writes CR LF. ORLEMAZ_PROGRAM_PRELOAD, when set, is preloaded into the
    // program alone.
    explicit AppProcess(const std::vector<std::string>& command = {});
    ~AppProcess();

    // Everything the program has written to standard output so far.
    const std::string& console();
    // Waits until the console contains text after position from; returns the position
    // just past it, or std::string::npos on time-out.
    size_t waitForConsole(const std::string& text, size_t from = 0,
                          std::chrono::milliseconds timeout = DEFAULT_WAIT);
    // Waits for the process to end; returns true and its wait status when it did.
    bool waitForExit(int* status, std::chrono::milliseconds timeout = DEFAULT_WAIT);

  private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string console_;
};
