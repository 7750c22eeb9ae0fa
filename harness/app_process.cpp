// Programs started without a shell, and the program's own run: started, its console read,
// waited for and stopped.
#include "harness/app_process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// argv as execvp and posix_spawnp take it, pointing into the strings given.
static std::vector<char*> wordsOf(const std::vector<std::string>& argv) {
    std::vector<char*> words;
    for (const std::string& word : argv) {
        words.push_back(const_cast<char*>(word.c_str()));
    }
    words.push_back(nullptr);
    return words;
}

pid_t startChild(std::vector<std::string> argv, int outFd, int errFd, int deathSignal,
                 const std::string& preload) {
    const std::vector<char*> words = wordsOf(argv); // before the fork: the child allocates nothing
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
    const std::vector<char*> words = wordsOf(argv);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, words[0], nullptr, nullptr, words.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
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
