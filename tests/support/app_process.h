// Test support for end-to-end tests: the real orlemaz binary started in the virtual X
// server, its console read as it writes, its window found and read on the X server, real
// input sent to it with xdotool, and the camera's arithmetic for turning model points into
// window pixels.
#pragma once

#include <X11/Xlib.h>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

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

// ---------------------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------------------

// One pixel as the X server shows it, each channel 0 to 255 (-1 outside the picture).
struct Pixel {
    int r;
    int g;
    int b;
};

// A picture of a window as the X server holds it (XGetImage), origin top left.
class WindowImage {
  public:
    // Reads the whole window; the picture is empty when the window cannot be read.
    static WindowImage grab(Display* dpy, Window window);

    bool empty() const {
        return pixels_.empty();
    }
    int width() const {
        return width_;
    }
    int height() const {
        return height_;
    }
    Pixel at(int x, int y) const;
    // Pixels that differ from other (every pixel when the sizes differ).
    int differences(const WindowImage& other) const;
    // Pixels that pass test.
    int count(const std::function<bool(Pixel)>& test) const;
    // Whether a pixel within radius pixels (a square) of (x, y) passes test.
    bool anyNear(int x, int y, int radius, const std::function<bool(Pixel)>& test) const;
    // Writes the picture to path as a PNG (through ImageMagick); returns success.
    bool savePng(const std::string& path) const;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Pixel> pixels_;
};

// ---------------------------------------------------------------------------------------
// The camera
// ---------------------------------------------------------------------------------------

// The view the program's camera is built from; the defaults are the start-up view.
struct CameraModel {
    double viewDistance = 400.0; // model units the scene is pushed along -z
    double tiltX = 16.0;         // degrees about x
    double rotY = 0.0;           // degrees about y
    double rotZ = 0.0;           // degrees about z
    int panX = 0;                // model units
    int panY = 0;                // model units
    int width = 680;             // the window's inside, pixels
    int height = 480;
};

// A window pixel, origin top left.
struct WindowPoint {
    int x;
    int y;
};

// The pixel a model point lands on in the window: frustum +-1 by +-height/width at near 5, the
// scene moved by (-50 + panX, -35 + panY, -viewDistance) and turned about x, then y, then z.
WindowPoint windowPointOf(const CameraModel& camera, double x, double y, double z);

// What the picture shows. The lights (white light 0 and the 0.2 global ambient, no
// specular) keep a material's hue: the white shirts stay grey, the dark blue shirts have
// no red or green, the players' heads stay purple, and the dark grey ball is the only grey
// darker than the ambient share of white.
bool isTeam0Shirt(Pixel p);
bool isTeam1Shirt(Pixel p);
bool isPlayerPurple(Pixel p);
bool isBall(Pixel p);

// Whether the player at (rodX, playerZ) on a rod hanging about straight down is where
// the camera puts it: its shirt in the team's colour on the front of its body, its head
// there and not just above. A misplacement of a few units along the rod shows.
bool showsPlayer(const WindowImage& picture, const CameraModel& camera, int team, double rodX,
                 double playerZ);

// ---------------------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------------------

// How chooseMenuEntry works the menu: press, move into the entry and release there; or
// right-click to open it, move into the entry and left-click it. freeglut on Windows under
// wine needs the clicks: X sends a drag's release to the program's window, and freeglut
// reads it there against the menu's place on the screen, off by the window's own place.
enum class MenuGesture { PressDragRelease, ClickThenClick };

// One run of the real program. The destructor kills it if it is still running, and the
// program dies with the test process whatever ends that.
class AppProcess {
  public:
    // Starts the Linux build, or the given command line (for example wine with the Windows
    // build). The console reads with LF line endings either way: Windows writes CR LF.
    // ORLEMAZ_PROGRAM_PRELOAD, when set, is preloaded into the program alone.
    explicit AppProcess(const std::vector<std::string>& command = {});
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Everything the program has written to standard output so far.
    const std::string& console();
    // Waits until the console contains text after position from; returns the position
    // just past it, or std::string::npos on time-out.
    size_t waitForConsole(const std::string& text, size_t from = 0,
                          std::chrono::milliseconds timeout = DEFAULT_WAIT);

    // The program's top-level window once it is viewable (0 on time-out).
    Window waitForWindow(std::chrono::milliseconds timeout = DEFAULT_WAIT);
    Display* display() const {
        return display_;
    }

    // Waits for the process to end; returns true and its wait status when it did.
    bool waitForExit(int* status, std::chrono::milliseconds timeout = DEFAULT_WAIT);

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

    // Real input through the X server (XTEST). Pointer positions are window pixels, turned
    // into screen points from the window's place at the time; keys reach the window with
    // the focus: under a window manager the program's, on a bare server the one under the
    // pointer.
    bool movePointer(int x, int y);
    // The screen point of a window pixel, from the window's place now.
    WindowPoint toScreen(int x, int y);
    // Runs one xdotool command of several steps ("mousemove 10 20 click 1"): they reach the
    // X server in one burst, as fast input does.
    bool sendInput(const std::string& steps);
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
    // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
    bool sendCloseRequest();

  private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string console_;
    Display* display_ = nullptr;
    Window window_ = 0;
};
