// The program's window on the X server: finding, reading, moving and resizing it, real
// input through xdotool, freeglut's pop-up menu, and the close request.
#include "harness/window_session.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <X11/Xutil.h>

#include "app/scene_state.h"
#include "harness/app_process.h"
#include "input/input.h"

std::string xKeyName(int key, bool special) {
    // Latin-1 keysyms are the characters' own codes, and X orders its arrows as GLUT does.
    const bool arrow = special && key >= GLUT_KEY_LEFT && key <= GLUT_KEY_DOWN;
    const KeySym keysym = !special ? key : arrow ? XK_Left + (key - GLUT_KEY_LEFT) : NoSymbol;
    const char* name = keysym != NoSymbol ? XKeysymToString(keysym) : nullptr;
    return name != nullptr ? name : "";
}

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
                  (menu.height - 2 * MENU_BORDER) * (2 * index + 1) / (2 * MENU_ENTRY_COUNT);
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
