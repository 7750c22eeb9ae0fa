// Starting, reading, driving and stopping the real program for end-to-end tests.
#include "support/app_process.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/scene_state.h"

AppProcess::AppProcess(const std::vector<std::string>& command) {
    underWindowManager(); // started first, so that it frames the program's window
    display_ = openTestDisplay();
    int pipeFds[2] = {-1, -1};
    if (pipe(pipeFds) != 0) {
        return;
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The program must not outlive a test that is killed (a time-out, a crash).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        const char* preload = std::getenv("ORLEMAZ_PROGRAM_PRELOAD");
        if (preload != nullptr && *preload != '\0') {
            setenv("LD_PRELOAD", preload, 1);
        }
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<std::string> words = command;
        if (words.empty()) {
            words.push_back(ORLEMAZ_BINARY);
        }
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    outFd_ = pipeFds[0];
    fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
}

AppProcess::~AppProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) {
        close(outFd_);
    }
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

void AppProcess::drain() {
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(outFd_, chunk, sizeof chunk)) > 0) {
        // A CR LF may straddle two reads: look again at the last character kept.
        size_t at = console_.empty() ? 0 : console_.size() - 1;
        console_.append(chunk, static_cast<size_t>(n));
        while ((at = console_.find("\r\n", at)) != std::string::npos) {
            console_.erase(at, 1);
        }
    }
}

const std::string& AppProcess::console() {
    drain();
    return console_;
}

size_t AppProcess::waitForConsole(const std::string& text, size_t from,
                                  std::chrono::milliseconds timeout) {
    size_t found = std::string::npos;
    waitFor(
        [&] {
            found = console().find(text, from);
            return found != std::string::npos;
        },
        timeout);
    return found == std::string::npos ? found : found + text.size();
}

Window AppProcess::waitForWindow(std::chrono::milliseconds timeout) {
    if (display_ == nullptr) {
        return 0;
    }
    waitFor([&] { return (window_ = findWindowByName(display_, FACT_WINDOW_TITLE)) != 0; },
            timeout);
    return window_;
}

bool AppProcess::waitForExit(int* status, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return false;
    }
    const bool exited = waitFor(
        [&] {
            drain();
            return waitpid(pid_, status, WNOHANG) == pid_;
        },
        timeout);
    if (exited) {
        drain();
        pid_ = -1;
    }
    return exited;
}

WindowImage AppProcess::picture() {
    return WindowImage::grab(display_, window_);
}

WindowImage AppProcess::waitForPicture(const std::function<bool(const WindowImage&)>& test,
                                       std::chrono::milliseconds timeout) {
    WindowImage latest;
    const bool found = waitFor(
        [&] {
            latest = picture();
            return !latest.empty() && test(latest);
        },
        timeout);
    return found ? latest : WindowImage{};
}

WindowImage AppProcess::waitForNewPicture(const WindowImage& before,
                                          std::chrono::milliseconds timeout) {
    return waitForPicture([&](const WindowImage& now) { return now.differences(before) > 0; },
                          timeout);
}

WindowPoint AppProcess::toScreen(int x, int y) {
    WindowPoint screen{x, y};
    Window child = 0;
    if (display_ != nullptr && window_ != 0) {
        XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), x, y, &screen.x,
                              &screen.y, &child);
    }
    return screen;
}

bool AppProcess::movePointer(int x, int y) {
    const WindowPoint screen = toScreen(x, y);
    return sendInput("mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y));
}

bool AppProcess::sendInput(const std::string& steps) {
    return runCommand("xdotool " + steps) == 0;
}

bool AppProcess::placePointer(int x, int y) {
    return movePointer(x + 1, y + 1) && movePointer(x, y);
}

bool AppProcess::click(int button) {
    return runCommand("xdotool click " + std::to_string(button)) == 0;
}

bool AppProcess::pressKey(const std::string& keyName) {
    return runCommand("xdotool key " + keyName) == 0;
}

static const char* const MENU_TITLE = FACT_MENU_TITLE;

bool AppProcess::menuIsOpen() {
    return display_ != nullptr && findWindowByName(display_, MENU_TITLE) != 0;
}

Rect AppProcess::openMenu(bool holdButton) {
    if (display_ == nullptr ||
        runCommand(holdButton ? "xdotool mousedown 3" : "xdotool click 3") != 0) {
        return {0, 0, 0, 0};
    }
    // The menu's window exists, unmapped, from the start; it is placed when it opens.
    Window menu = 0;
    if (!waitFor([&] { return (menu = findWindowByName(display_, MENU_TITLE)) != 0; })) {
        if (holdButton) {
            runCommand("xdotool mouseup 3");
        }
        return {0, 0, 0, 0};
    }
    return screenRect(display_, menu);
}

// Moves the pointer to a screen point with two motions, so that the last one lands inside
// whatever lies there even when the pointer already stood on it.
static bool pointAt(int screenX, int screenY) {
    const std::string to = " " + std::to_string(screenY);
    return runCommand("xdotool mousemove " + std::to_string(screenX - 1) + to) == 0 &&
           runCommand("xdotool mousemove " + std::to_string(screenX) + to) == 0;
}

bool AppProcess::releaseMenuButton(int screenX, int screenY) {
    // A motion inside an entry lights it; the release then chooses it.
    return pointAt(screenX, screenY) && runCommand("xdotool mouseup 3") == 0;
}

bool AppProcess::chooseMenuEntry(int index, MenuGesture gesture) {
    const int entries = std::atoi(FACT_MENU_ENTRIES), border = std::atoi(FACT_MENU_BORDER);
    const bool dragging = gesture == MenuGesture::PressDragRelease;
    const Rect menu = openMenu(dragging);
    if (menu.width == 0) {
        return false;
    }

    const int x = menu.x + menu.width / 2;
    const int y = menu.y + border + (menu.height - 2 * border) * (2 * index + 1) / (2 * entries);
    const bool chosen =
        dragging ? releaseMenuButton(x, y) : pointAt(x, y) && runCommand("xdotool click 1") == 0;
    return chosen && waitFor([&] { return !menuIsOpen(); });
}

Rect AppProcess::place() {
    return display_ != nullptr && window_ != 0 ? screenRect(display_, window_) : Rect{0, 0, 0, 0};
}

bool AppProcess::moveWindow(int x, int y) {
    const Rect before = place();
    if (before.width == 0) {
        return false;
    }
    XMoveWindow(display_, window_, x, y);
    XFlush(display_);
    return waitFor([&] {
        const Rect now = place();
        return now.x != before.x || now.y != before.y;
    });
}

bool AppProcess::resizeWindow(int width, int height) {
    if (place().width == 0) {
        return false;
    }
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(display_);
    return !waitForPicture([&](const WindowImage& picture) {
                return picture.width() == width && picture.height() == height &&
                       picture.count(isTeam0Shirt) > 0;
            }).empty();
}

bool AppProcess::sendCloseRequest() {
    if (display_ == nullptr || window_ == 0) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display_, window_, False, NoEventMask, &event);
    XFlush(display_);
    return sent != 0;
}

bool AppProcess::applyPlacement(const WindowPlacement& placement) {
    const Rect now = place();
    return (placement.x < 0 || moveWindow(placement.x, placement.y)) &&
           ((placement.width == now.width && placement.height == now.height) ||
            resizeWindow(placement.width, placement.height));
}
