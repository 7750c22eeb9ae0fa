// Starting, reading and stopping the real program for end-to-end tests.
#include "support/app_process.h"

#include <X11/Xutil.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/scene_state.h"

extern char** environ;

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

AppProcess::AppProcess() {
    int pipeFds[2] = {-1, -1};
    if (pipe(pipeFds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char program[] = ORLEMAZ_BINARY;
    char* argv[] = {program, nullptr};
    if (posix_spawn(&pid_, program, &actions, nullptr, argv, environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    outFd_ = pipeFds[0];
    fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
    display_ = XOpenDisplay(nullptr);
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
        console_.append(chunk, static_cast<size_t>(n));
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
