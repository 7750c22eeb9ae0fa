// Programs started without a shell, and the program's own run: started, its console read,
// waited for and stopped.
#include "harness/app_process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t startChild(std::vector<std::string> argv, int outFd, int errFd, int deathSignal,
                 const std::string& preload) {
    // argv as execvp takes it, made before the fork: the child allocates nothing.
    std::vector<char*> words;
    for (std::string& word : argv) {
        words.push_back(word.data());
    }
    words.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, deathSignal);
        if (getppid() != parent) {
            _exit(127);
        }
        if (!preload.empty()) {
            setenv("LD_PRELOAD", preload.c_str(), 1);
        }
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        execvp(words[0], words.data());
        _exit(127);
    }
    return pid;
}

bool runProgram(const std::vector<std::string>& argv) {
    const pid_t pid = startChild(argv, STDOUT_FILENO, STDERR_FILENO, SIGKILL);
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (access((folder + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
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
    const auto seen = [&] { return (found = console().find(text, from)) != std::string::npos; };
    return waitFor(seen, timeout) ? found + text.size() : std::string::npos;
}

bool AppProcess::waitForExit(int* status, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return false;
    }
    const auto ended = [&] {
        drain();
        return waitpid(pid_, status, WNOHANG) == pid_;
    };
    const bool exited = waitFor(ended, timeout);
    if (exited) {
        drain();
        pid_ = -1;
    }
    return exited;
}
