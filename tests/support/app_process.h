// Test support for end-to-end tests: the real orlemaz binary started in the virtual X
// server, its console read as it writes, its window found and read on the X server, and
// real input sent to it with xdotool.
#pragma once

#include <X11/Xlib.h>
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds DEFAULT_WAIT{20};

// Polls condition until it holds or the time runs out; returns its last value.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = DEFAULT_WAIT);

// Runs a shell command (xdotool and friends); returns its exit status.
int runCommand(const std::string& command);

// One run of the real program. The destructor kills it if it is still running.
class AppProcess {
  public:
    AppProcess();
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

  private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string console_;
    Display* display_ = nullptr;
    Window window_ = 0;
};

// Finds a viewable window whose WM_NAME is title anywhere under the root (0 if none).
Window findWindowByName(Display* dpy, const std::string& title);
