// Finding, reading and driving the program's window, and starting, reading and stopping
// the program itself.
#include "harness/app_process.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/scene_state.h"

InputBurst& InputBurst::moveTo(int screenX, int screenY) {
    words_.insert(words_.end(), {"mousemove", std::to_string(screenX), std::to_string(screenY)});
    return *this;
}

InputBurst& InputBurst::click(int button, int times, int delayMs) {
    words_.push_back("click");
    if (times != 1) {
        words_.insert(words_.end(),
                      {"--repeat", std::to_string(times), "--delay", std::to_string(delayMs)});
    }
    words_.push_back(std::to_string(button));
    return *this;
}

InputBurst& InputBurst::press(int button) {
    words_.insert(words_.end(), {"mousedown", std::to_string(button)});
    return *this;
}

InputBurst& InputBurst::release(int button) {
    words_.insert(words_.end(), {"mouseup", std::to_string(button)});
    return *this;
}

InputBurst& InputBurst::key(const std::string& name, int delayMs) {
    words_.insert(words_.end(), {"key", "--delay", std::to_string(delayMs), name});
    return *this;
}

bool InputBurst::send() const {
    return runProgram(words_);
}

WindowSession::WindowSession() : connection_(openDisplay()), display_(connection_.get()) {}

Window WindowSession::waitForWindow(std::chrono::milliseconds timeout) {
    if (display_ == nullptr) {
        return 0;
    }
    waitFor([&] { return (window_ = findWindowByName(display_, WINDOW_TITLE)) != 0; }, timeout);
    return window_;
}

WindowImage WindowSession::picture() {
    return WindowImage::grab(display_, window_);
}

WindowImage WindowSession::waitForPicture(const std::function<bool(const WindowImage&)>& test,
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

WindowImage WindowSession::waitForNewPicture(const WindowImage& before,
                                             std::chrono::milliseconds timeout) {
    return waitForPicture([&](const WindowImage& now) { return now.differences(before) > 0; },
                          timeout);
}

WindowPoint WindowSession::toScreen(int x, int y) {
    WindowPoint screen{x, y};
    Window child = 0;
    if (display_ != nullptr && window_ != 0) {
        XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), x, y, &screen.x,
                              &screen.y, &child);
    }
    return screen;
}

bool WindowSession::movePointer(int x, int y) {
    const WindowPoint screen = toScreen(x, y);
    return InputBurst().moveTo(screen.x, screen.y).send();
}

bool WindowSession::placePointer(int x, int y) {
    return movePointer(x + 1, y + 1) && movePointer(x, y);
}

bool WindowSession::click(int button) {
    return InputBurst().click(button).send();
}

bool WindowSession::pressKey(const std::string& keyName) {
    return InputBurst().key(keyName).send();
}

bool WindowSession::menuIsOpen() {
    return display_ != nullptr && findWindowByName(display_, MENU_TITLE) != 0;
}

Rect WindowSession::menuPlace() {
    const Window menu = display_ != nullptr ? findWindowByName(display_, MENU_TITLE) : 0;
    return menu != 0 ? screenRect(display_, menu) : Rect{0, 0, 0, 0};
}

Rect WindowSession::openMenu(bool holdButton) {
    InputBurst open;
    if (display_ == nullptr || !(holdButton ? open.press(3) : open.click(3)).send()) {
        return {0, 0, 0, 0};
    }
    // The menu's window exists, unmapped, from the start; it is placed when it opens.
    if (!waitFor([&] { return menuIsOpen(); })) {
        if (holdButton) {
            InputBurst().release(3).send();
        }
        return {0, 0, 0, 0};
    }
    return menuPlace();
}

// Moves the pointer to a screen point with two motions, so that the last one lands inside
// whatever lies there even when the pointer already stood on it.
static bool pointAt(int screenX, int screenY) {
    return InputBurst().moveTo(screenX - 1, screenY).send() &&
           InputBurst().moveTo(screenX, screenY).send();
}

bool WindowSession::releaseMenuButton(int screenX, int screenY) {
    // A motion inside an entry lights it; the release then chooses it.
    return pointAt(screenX, screenY) && InputBurst().release(3).send();
}

bool WindowSession::chooseMenuEntry(int index, MenuGesture gesture) {
    const bool dragging = gesture == MenuGesture::PressDragRelease;
    const Rect menu = openMenu(dragging);
    if (menu.width == 0) {
        return false;
    }
    // Entry i's middle lies at top + border + (height - 2 border) (2 i + 1) / (2 entries).
    const int x = menu.x + menu.width / 2;
    const int y = menu.y + MENU_BORDER +
                  (menu.height - 2 * MENU_BORDER) * (2 * index + 1) / (2 * MENU_ENTRIES);
    const bool chosen =
        dragging ? releaseMenuButton(x, y) : pointAt(x, y) && InputBurst().click(1).send();
    return chosen && waitFor([&] { return !menuIsOpen(); });
}

Rect WindowSession::place() {
    return display_ != nullptr && window_ != 0 ? screenRect(display_, window_) : Rect{0, 0, 0, 0};
}

bool WindowSession::moveWindow(int x, int y) {
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

bool WindowSession::resizeWindow(int width, int height) {
    if (place().width == 0) {
        return false;
    }
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(display_);
    return !waitForPicture([&](const WindowImage& picture) {
                return picture.width() == width && picture.height() == height &&
                       showsTable(picture);
            }).empty();
}

bool WindowSession::applyPlacement(const WindowPlacement& placement) {
    const Rect now = place();
    return (placement.x < 0 || moveWindow(placement.x, placement.y)) &&
           ((placement.width == now.width && placement.height == now.height) ||
            resizeWindow(placement.width, placement.height));
}

bool WindowSession::sendCloseRequest() {
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

AppProcess::AppProcess(const std::vector<std::string>& command) {
    underWindowManager(); // started first, so that it frames the program's window
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    const char* preload = std::getenv("ORLEMAZ_PROGRAM_PRELOAD");
    // The program must not outlive a harness that is killed (a time-out, a crash).
    pid_ = startChild(command.empty() ? std::vector<std::string>{ORLEMAZ_BINARY} : command,
                      pipeFds[1], STDERR_FILENO, SIGKILL, preload != nullptr ? preload : "");
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
