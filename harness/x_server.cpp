// The X server the harness works on: waits, windows found by title and their places, the
// window manager.
#include "harness/x_server.h"

#include <X11/Xatom.h>
#include <X11/Xproto.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "harness/app_process.h"

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    // ORLEMAZ_WAIT_SCALE, read once; 1 when unset or not a positive number.
    static const double scale = [] {
        const char* given = std::getenv("ORLEMAZ_WAIT_SCALE");
        const double value = given != nullptr ? std::atof(given) : 0.0;
        return value > 0.0 ? value : 1.0;
    }();
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout * scale);
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

static std::function<void(const std::string&)> xErrorReport = [](const std::string& error) {
    std::cerr << error << std::endl;
};

void onXError(std::function<void(const std::string&)> report) {
    xErrorReport = std::move(report);
}

// Windows come and go under the harness (the menu, a program that has just quit): a
// request about a window that is gone fails quietly. Any other error is reported.
static int reportXError(Display* dpy, XErrorEvent* error) {
    const bool vanished = error->error_code == BadWindow || error->error_code == BadDrawable ||
                          (error->error_code == BadMatch && error->request_code == X_GetImage);
    if (!vanished) {
        char text[256] = "";
        XGetErrorText(dpy, error->error_code, text, sizeof text);
        xErrorReport("X error " + std::string(text) + " (request " +
                     std::to_string(int(error->request_code)) + ")");
    }
    return 0;
}

Display* openDisplay() {
    Display* dpy = nullptr;
    // Xvfb resets when its last client leaves, as the previous program and its test did a
    // moment ago, and refuses connections while it does.
    waitFor([&] { return (dpy = XOpenDisplay(nullptr)) != nullptr; });
    XSetErrorHandler(reportXError);
    return dpy;
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
            // Its chatter stays out of the log.
            const int devNull = open("/dev/null", O_WRONLY);
            static pid_t managerPid = -1;
            managerPid = startChild({manager}, devNull, devNull, SIGTERM);
            close(devNull);
            // It ends with the process, which waits until it has gone, so that the next test
            // process starts one of its own. One still there a few seconds after SIGTERM is
            // killed: the test has its result, and waiting on must not turn it into a hang.
            std::atexit([] {
                if (managerPid > 0) {
                    kill(managerPid, SIGTERM);
                    const auto gone = [] { return waitpid(managerPid, nullptr, WNOHANG) != 0; };
                    if (!waitFor(gone, std::chrono::seconds(5))) {
                        std::cerr << "The window manager outlived SIGTERM by 5 s: killed."
                                  << std::endl;
                        kill(managerPid, SIGKILL);
                        waitpid(managerPid, nullptr, 0);
                    }
                }
            });
            waitFor([&] { return windowManagerRuns(dpy); });
        }
        const bool runs = windowManagerRuns(dpy);
        XCloseDisplay(dpy);
        return runs;
    }();
    return managed;
}
