// Starting, reading, driving and stopping the real program for end-to-end tests, pictures
// of its window from the X server, and the camera's arithmetic.
#include "support/app_process.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/scene_state.h"

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int runCommand(const std::string& command) {
    return std::system(command.c_str());
}

// Windows come and go while the tests look at them (the menu, a program that has just
// quit); a request about a window that is gone must fail quietly, not end the test.
static int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

Window findWindowByName(Display* dpy, const std::string& title) {
    std::function<Window(Window)> search = [&](Window w) -> Window {
        char* name = nullptr;
        if (XFetchName(dpy, w, &name) != 0 && name != nullptr) {
            const bool match = title == name;
            XFree(name);
            XWindowAttributes attributes{};
            if (match && XGetWindowAttributes(dpy, w, &attributes) != 0 &&
                attributes.map_state == IsViewable) {
                return w;
            }
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        Window result = 0;
        if (XQueryTree(dpy, w, &root, &parent, &children, &count) != 0) {
            for (unsigned int i = 0; i < count && result == 0; i++) {
                result = search(children[i]);
            }
            if (children != nullptr) {
                XFree(children);
            }
        }
        return result;
    };
    return search(DefaultRootWindow(dpy));
}

Rect screenRect(Display* dpy, Window window) {
    XWindowAttributes attributes{};
    Rect rect{0, 0, 0, 0};
    Window child = 0;
    if (XGetWindowAttributes(dpy, window, &attributes) != 0 &&
        XTranslateCoordinates(dpy, window, DefaultRootWindow(dpy), 0, 0, &rect.x, &rect.y,
                              &child) != 0) {
        rect.width = attributes.width;
        rect.height = attributes.height;
    }
    return rect;
}

// Whether a window manager that follows the desktop conventions runs on the display: the
// root names a window that names itself back. A manager that has gone leaves the root's
// property behind, naming a window that no longer exists.
static bool windowManagerRuns(Display* dpy) {
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    const auto checkWindowOf = [&](Window window) -> Window {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window named = 0;
        if (XGetWindowProperty(dpy, window, check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                               &after, &data) == Success &&
            count == 1 && format == 32) {
            named = *reinterpret_cast<Window*>(data);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return named;
    };
    const Window named = checkWindowOf(DefaultRootWindow(dpy));
    return named != 0 && checkWindowOf(named) == named;
}

// The manager this process started, if any.
static pid_t managerPid = -1;

// Ends the manager with the test process, and waits until it has gone, so that the next
// test process starts one of its own.
static void stopWindowManager() {
    if (managerPid > 0) {
        kill(managerPid, SIGTERM);
        waitpid(managerPid, nullptr, 0);
    }
}

const WindowPlacement WINDOW_PLACEMENTS[3] = {
    {"AsOpened", -1, -1, 680, 480},
    {"MovedTo150x100", 150, 100, 680, 480},
    {"ResizedTo900x700", -1, -1, 900, 700},
};

bool underWindowManager() {
    static const bool managed = [] {
        const char* manager = std::getenv("ORLEMAZ_WINDOW_MANAGER");
        if (manager == nullptr || *manager == '\0') {
            return false;
        }
        Display* dpy = XOpenDisplay(nullptr);
        if (dpy == nullptr) {
            return false;
        }
        if (!windowManagerRuns(dpy)) {
            const pid_t parent = getpid();
            managerPid = fork();
            if (managerPid == 0) {
                // The manager ends with the test process; its chatter stays out of the log.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (getppid() != parent) {
                    _exit(127);
                }
                const int devNull = open("/dev/null", O_WRONLY);
                dup2(devNull, STDOUT_FILENO);
                dup2(devNull, STDERR_FILENO);
                execlp(manager, manager, static_cast<char*>(nullptr));
                _exit(127);
            }
            std::atexit(stopWindowManager);
            waitFor([&] { return windowManagerRuns(dpy); });
        }
        const bool runs = windowManagerRuns(dpy);
        XCloseDisplay(dpy);
        return runs;
    }();
    return managed;
}

// ---------------------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------------------

// Position of the lowest set bit of a colour mask.
static int maskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1UL) == 0) {
        mask >>= 1;
        shift++;
    }
    return shift;
}

WindowImage WindowImage::grab(Display* dpy, Window window) {
    WindowImage picture;
    XWindowAttributes attributes{};
    if (dpy == nullptr || window == 0 || XGetWindowAttributes(dpy, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return picture;
    }
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return picture;
    }
    const int redShift = maskShift(image->red_mask);
    const int greenShift = maskShift(image->green_mask);
    const int blueShift = maskShift(image->blue_mask);
    picture.width_ = attributes.width;
    picture.height_ = attributes.height;
    picture.pixels_.reserve(static_cast<size_t>(picture.width_) * picture.height_);
    for (int y = 0; y < picture.height_; y++) {
        for (int x = 0; x < picture.width_; x++) {
            const unsigned long value = XGetPixel(image, x, y);
            picture.pixels_.push_back({static_cast<int>((value & image->red_mask) >> redShift),
                                       static_cast<int>((value & image->green_mask) >> greenShift),
                                       static_cast<int>((value & image->blue_mask) >> blueShift)});
        }
    }
    XDestroyImage(image);
    return picture;
}

Pixel WindowImage::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return {-1, -1, -1};
    }
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

int WindowImage::differences(const WindowImage& other) const {
    if (width_ != other.width_ || height_ != other.height_) {
        return static_cast<int>(std::max(pixels_.size(), other.pixels_.size()));
    }
    int count = 0;
    for (size_t i = 0; i < pixels_.size(); i++) {
        const Pixel& a = pixels_[i];
        const Pixel& b = other.pixels_[i];
        count += (a.r != b.r || a.g != b.g || a.b != b.b) ? 1 : 0;
    }
    return count;
}

int WindowImage::count(const std::function<bool(Pixel)>& test) const {
    int count = 0;
    for (const Pixel& pixel : pixels_) {
        count += test(pixel) ? 1 : 0;
    }
    return count;
}

bool WindowImage::anyNear(int x, int y, int radius, const std::function<bool(Pixel)>& test) const {
    for (int dy = -radius; dy <= radius; dy++) {
        for (int dx = -radius; dx <= radius; dx++) {
            const Pixel pixel = at(x + dx, y + dy);
            if (pixel.r >= 0 && test(pixel)) {
                return true;
            }
        }
    }
    return false;
}

bool WindowImage::savePng(const std::string& path) const {
    if (empty()) {
        return false;
    }
    char ppmPath[] = "/tmp/orlemaz-picture-XXXXXX";
    const int fd = mkstemp(ppmPath);
    if (fd < 0) {
        return false;
    }
    FILE* file = fdopen(fd, "wb");
    std::fprintf(file, "P6\n%d %d\n255\n", width_, height_);
    for (const Pixel& pixel : pixels_) {
        std::fputc(pixel.r, file);
        std::fputc(pixel.g, file);
        std::fputc(pixel.b, file);
    }
    std::fclose(file);
    const int status = runCommand("convert 'ppm:" + std::string(ppmPath) + "' 'png:" + path + "'");
    unlink(ppmPath);
    return status == 0;
}

// ---------------------------------------------------------------------------------------
// The camera
// ---------------------------------------------------------------------------------------

WindowPoint windowPointOf(const CameraModel& camera, double x, double y, double z) {
    constexpr double DEGREES = 3.14159265358979323846 / 180.0;
    const double viewportW = camera.width; // pixels
    const double viewportH = camera.height;
    constexpr double NEAR = 5.0;         // the near plane spans +-1 across
    constexpr double HALF_LENGTH = 50.0; // the table's length and width halved: the camera
    constexpr double HALF_WIDTH = 35.0;  // centres the table's x and z extents on x and y

    // The last rotation given acts first on a model point: z, then y, then x.
    double c = std::cos(camera.rotZ * DEGREES), s = std::sin(camera.rotZ * DEGREES);
    double ex = c * x - s * y, ey = s * x + c * y, ez = z;
    c = std::cos(camera.rotY * DEGREES), s = std::sin(camera.rotY * DEGREES);
    const double ex2 = c * ex + s * ez;
    ez = -s * ex + c * ez;
    ex = ex2;
    c = std::cos(camera.tiltX * DEGREES), s = std::sin(camera.tiltX * DEGREES);
    const double ey2 = c * ey - s * ez;
    ez = s * ey + c * ez;
    ey = ey2;
    ex += -HALF_LENGTH + camera.panX;
    ey += -HALF_WIDTH + camera.panY;
    ez -= camera.viewDistance;

    const double ndcX = NEAR * ex / -ez;
    const double ndcY = NEAR * ey / -ez / (viewportH / viewportW);
    return {static_cast<int>(std::floor((ndcX + 1.0) / 2.0 * viewportW)),
            static_cast<int>(std::floor((1.0 - ndcY) / 2.0 * viewportH))};
}

// Channels equal within rounding.
static bool isGrey(Pixel p) {
    return std::abs(p.r - p.g) <= 1 && std::abs(p.g - p.b) <= 1;
}

bool isTeam0Shirt(Pixel p) {
    return isGrey(p) && p.r >= 45; // white under the ambient light alone is 51
}

bool isTeam1Shirt(Pixel p) {
    return p.r <= 2 && p.g <= 2 && p.b >= 3; // 0.1 blue, at least 5 under ambient light
}

bool isPlayerPurple(Pixel p) {
    return p.b > p.r + 5 && p.r > 2 * p.g; // 0.5, 0.1, 1.0
}

bool isBall(Pixel p) {
    return isGrey(p) && p.r >= 1 && p.r <= 35; // 0.1 grey: 5 unlit, 31 fully lit
}

bool showsPlayer(const WindowImage& picture, const CameraModel& camera, int team, double rodX,
                 double playerZ) {
    constexpr double BODY_Y = 28.0;      // body centre: the axis (30), less 2
    constexpr double BODY_RADIUS = 1.5;  // across; twice that upright
    constexpr double HEAD_Y = 33.0;      // head centre: the axis, plus 3; radius 1
    constexpr double ASIDE = 1.0;        // off the bar's axis (the bar's radius is 0.5)
    constexpr double BELOW_CENTRE = 0.5; // model units
    // The bar hides the body's middle; look beside it on the camera's side.
    const double side = rodX < 50.0 - camera.panX ? ASIDE : -ASIDE;
    const double across = ASIDE / BODY_RADIUS;
    const double upright = BELOW_CENTRE / (2.0 * BODY_RADIUS);
    const double front = BODY_RADIUS * std::sqrt(1.0 - across * across - upright * upright);
    const WindowPoint body =
        windowPointOf(camera, rodX + side, BODY_Y - BELOW_CENTRE, playerZ + front);
    const WindowPoint head = windowPointOf(camera, rodX, HEAD_Y, playerZ);
    const WindowPoint aboveHead = windowPointOf(camera, rodX, HEAD_Y + 2.0, playerZ);
    return picture.anyNear(body.x, body.y, 1, team == 0 ? isTeam0Shirt : isTeam1Shirt) &&
           picture.anyNear(head.x, head.y, 1, isPlayerPurple) &&
           !picture.anyNear(aboveHead.x, aboveHead.y, 1, isPlayerPurple);
}

// ---------------------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------------------

AppProcess::AppProcess(const std::vector<std::string>& command) {
    underWindowManager(); // started first, so that it frames the program's window
    // Xvfb resets when its last client leaves, as the previous program and its test did a
    // moment ago, and refuses connections while it does.
    waitFor([&] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, std::chrono::seconds(5));
    XSetErrorHandler(ignoreXError);
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
    waitFor([&] { return (window_ = findWindowByName(display_, WINDOW_TITLE)) != 0; }, timeout);
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

static const char MENU_TITLE[] = "freeglut menu";

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
    constexpr int MENU_ENTRIES = 4;
    const bool dragging = gesture == MenuGesture::PressDragRelease;
    const Rect menu = openMenu(dragging);
    if (menu.width == 0) {
        return false;
    }
    const int entryHeight = menu.height / MENU_ENTRIES;
    const int x = menu.x + menu.width / 2;
    const int y = menu.y + entryHeight * index + entryHeight / 2;
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
