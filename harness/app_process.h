// One run of the real program started by the harness, its console read as it writes; and
// programs started without a shell, as children that end with the harness.
#pragma once

#include "harness/window_session.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts argv (no shell: no word is ever parsed) as a child that gets deathSignal when the
// calling process ends, with its standard output and error on outFd and errFd and the
// library preload (if any) preloaded into it alone; returns its pid (-1 on failure).
pid_t startChild(std::vector<std::string> argv, int outFd, int errFd, int deathSignal,
                 const std::string& preload = "");
// Starts argv (no shell: no word is ever parsed) and waits for it; returns whether it
// exited with status 0.
bool runProgram(const std::vector<std::string>& argv);
// Whether a program of that name is on the PATH.
bool onPath(const std::string& name);

// One run of the real program, started by the harness. The destructor kills it if it is
// still running, and the program dies with the harness's process whatever ends that.
class AppProcess : public WindowSession {
  public:
    // Starts the program built beside the harness, or the given command line (for example
    // wine with the Windows build). The console reads with LF line endings either way:
    // Windows writes CR LF. ORLEMAZ_PROGRAM_PRELOAD, when set, is preloaded into the
    // program alone.
    explicit AppProcess(const std::vector<std::string>& command = {});
    ~AppProcess();

    // Everything the program has written to standard output so far.
    const std::string& console();
    // Waits until the console contains text after position from; returns the position
    // just past it, or std::string::npos on time-out.
    size_t waitForConsole(const std::string& text, size_t from = 0,
                          std::chrono::milliseconds timeout = DEFAULT_WAIT);
    // Waits for the process to end; returns true and its wait status when it did.
    bool waitForExit(int* status, std::chrono::milliseconds timeout = DEFAULT_WAIT);

  private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string console_;
};
