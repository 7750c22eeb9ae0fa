// orlemaz-drive: the harness as a command for the scripts (scripts/run, scripts/package,
// scripts/soak, scripts/fps). It works on the X server in DISPLAY, with a deadline on every
// wait; the scripts start that server themselves. The menu's names and the camera keys come
// from the program's own headers.
#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "harness/app_process.h"
#include "input/input.h"

static const char* const USAGE =
    "Usage:\n"
    "  orlemaz-drive picture OUTPUT.png PROGRAM [ARGS...]\n"
    "      starts PROGRAM, waits until its window shows the table, saves the window as a\n"
    "      PNG, asks the window to close and waits for the exit; exits as the program did\n"
    "  orlemaz-drive wait-window     waits until the window shows the table; prints its id\n"
    "                                and its size (ID WIDTHxHEIGHT)\n"
    "  orlemaz-drive wait-output FILE TEXT [COUNT]   waits until FILE holds TEXT COUNT times\n"
    "  orlemaz-drive menu ENTRY      chooses the menu entry named ENTRY (move-model, move-rods,\n"
    "                                toggle-ball, quit) with the pointer in the window's middle;\n"
    "                                returns once the menu has closed\n"
    "  orlemaz-drive close PID       asks the window to close and waits until PID has ended\n"
    "  orlemaz-drive soak SECONDS SEED PID\n"
    "      sends random input inside the window for SECONDS or until PID ends (motion, left\n"
    "      clicks, keys other than Escape; every 5 s a mode entry of the menu); SEED replays\n"
    "      it. Prints what it sent.\n"
    "  orlemaz-drive facts           prints what the program shows outward, as JSON\n"
    "  orlemaz-drive project WIDTH HEIGHT TILT_X ROT_Y ROT_Z DISTANCE PAN_X PAN_Y X Y Z...\n"
    "      prints the window pixel each model point falls in under that view, as JSON\n";

// Says what went wrong and ends with status 1.
[[noreturn]] static void fail(const std::string& what) {
    std::fprintf(stderr, "orlemaz-drive: %s\n", what.c_str());
    std::exit(1);
}

// Whether process pid has ended: gone, or a zombie its parent has not reaped yet.
static bool processEnded(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const size_t name = line.rfind(')');
    return name == std::string::npos || line.compare(name + 1, 2, " Z") == 0;
}

// The program's window in session once it shows the table (exits on time-out).
static void waitUntilDrawn(WindowSession& session) {
    if (session.waitForWindow() == 0 || session.waitForPicture(showsTable).empty()) {
        fail("the program's window did not appear");
    }
}

static int picture(const std::string& output, const std::vector<std::string>& command) {
    AppProcess program(command);
    waitUntilDrawn(program);
    if (!program.picture().savePng(output)) {
        fail("could not write " + output);
    }
    int status = 0;
    if (!program.sendCloseRequest() || !program.waitForExit(&status)) {
        fail("the program did not end when asked to close");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail("the program ended with status " + std::to_string(status));
    }
    return 0;
}

// The keys the soak presses besides the camera keys: all others but Escape.
static const char* const OTHER_SOAK_KEYS[] = {
    "h",      "H", "x",  "X",   "a",    "space", "Return",  "Tab",       "BackSpace",
    "Delete", "1", "F1", "F12", "Home", "End",   "Page_Up", "Page_Down", "Insert"};

static int soak(double seconds, unsigned long seed, long pid) {
    WindowSession session;
    waitUntilDrawn(session);
    const Rect window = session.place();
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    const auto chance = [&] { return std::uniform_real_distribution<double>(0.0, 1.0)(random); };
    const auto within = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    int pointerX = window.x + window.width / 2, pointerY = window.y + window.height / 2;
    long motions = 0, clicks = 0, keys = 0, menuChoices = 0;
    // The camera keys, each with the key that undoes it, then the others.
    std::vector<std::string> soakKeys;
    std::map<std::string, std::string> undoKeyOf;
    for (const CameraKey& k : CAMERA_KEYS) {
        soakKeys.push_back(xKeyName(k.key, k.special));
        undoKeyOf[soakKeys.back()] = xKeyName(k.opposite, k.special);
    }
    soakKeys.insert(soakKeys.end(), std::begin(OTHER_SOAK_KEYS), std::end(OTHER_SOAK_KEYS));
    // Every camera move is undone later on, so the view stays near where it started: a
    // view wandering off would change what the renderer holds for a frame.
    std::vector<std::string> undo;
    const auto start = Clock::now();
    auto nextMenu = start + std::chrono::seconds(5);
    while (Clock::now() - start < std::chrono::duration<double>(seconds) && !processEnded(pid)) {
        if (Clock::now() >= nextMenu) {
            const MenuEntry entry = chance() < 0.5 ? MENU_MOVE_MODEL : MENU_MOVE_RODS;
            menuChoices += session.movePointer(window.width / 2, window.height / 2) &&
                           session.chooseMenuEntry(entry);
            nextMenu += std::chrono::seconds(5);
            continue;
        }
        // Ten actions in one burst; the pointer stays inside the window, where the program
        // sees its motion and the keys reach it.
        InputBurst burst;
        for (int i = 0; i < 10; i++) {
            const double action = chance();
            if (action < 0.7) {
                const int step = chance() < 0.1 ? 200 : 15;
                pointerX = std::clamp(pointerX + within(-step, step), window.x,
                                      window.x + window.width - 1);
                pointerY = std::clamp(pointerY + within(-step, step), window.y,
                                      window.y + window.height - 1);
                burst.moveTo(pointerX, pointerY);
                motions++;
            } else if (action < 0.8) {
                burst.click(1);
                clicks++;
            } else {
                std::string key;
                if (!undo.empty() && chance() < 0.5) {
                    const int at = within(0, static_cast<int>(undo.size()) - 1);
                    key = undo[static_cast<size_t>(at)];
                    undo.erase(undo.begin() + at);
                } else {
                    key = soakKeys[static_cast<size_t>(
                        within(0, static_cast<int>(soakKeys.size()) - 1))];
                }
                const std::string undoKey = undoKeyOf[key];
                if (!undoKey.empty() && std::find(undo.begin(), undo.end(), key) == undo.end()) {
                    undo.push_back(undoKey);
                }
                burst.key(key, 0);
                keys++;
            }
        }
        burst.send();
    }
    std::printf("%ld motions, %ld clicks, %ld keys, %ld menu choices\n", motions, clicks, keys,
                menuChoices);
    return 0;
}

// Waits until file holds text count times; returns whether it did in time.
static bool waitForOutput(const std::string& file, const std::string& text, int count) {
    return waitFor([&] {
        std::ifstream in(file);
        const std::string held{std::istreambuf_iterator<char>(in), {}};
        int found = 0;
        for (size_t at = held.find(text); at != std::string::npos; at = held.find(text, at + 1)) {
            found++;
        }
        return found >= count;
    });
}

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "" : args[0];
    if (command == "picture" && args.size() >= 3) {
        return picture(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "wait-window" && args.size() == 1) {
        WindowSession session;
        waitUntilDrawn(session);
        const Rect inside = session.place();
        std::printf("%lu %dx%d\n", session.waitForWindow(), inside.width, inside.height);
        return 0;
    }
    if (command == "wait-output" && (args.size() == 3 || args.size() == 4)) {
        const int count = args.size() == 4 ? std::atoi(args[3].c_str()) : 1;
        if (!waitForOutput(args[1], args[2], count)) {
            fail(args[1] + " did not show \"" + args[2] + "\" " + std::to_string(count) + " times");
        }
        return 0;
    }
    if (command == "menu" && args.size() == 2) {
        const MenuItem* item = std::find_if(std::begin(MENU_ITEMS), std::end(MENU_ITEMS),
                                            [&](const MenuItem& m) { return args[1] == m.name; });
        if (item == std::end(MENU_ITEMS)) {
            fail("the menu has no entry " + args[1]);
        }
        WindowSession session;
        waitUntilDrawn(session);
        const Rect window = session.place();
        if (!session.movePointer(window.width / 2, window.height / 2) ||
            !session.chooseMenuEntry(static_cast<int>(item - MENU_ITEMS))) {
            fail("could not choose menu entry " + args[1]);
        }
        return 0;
    }
    if (command == "close" && args.size() == 2) {
        const long pid = std::atol(args[1].c_str());
        WindowSession session;
        Window window = 0;
        waitFor([&] { return (window = session.waitForWindow({})) != 0 || processEnded(pid); });
        if (window != 0) {
            session.sendCloseRequest();
        }
        if (!waitFor([&] { return processEnded(pid); })) {
            fail("process " + args[1] + " did not end");
        }
        return 0;
    }
    if (command == "soak" && args.size() == 4) {
        return soak(std::atof(args[1].c_str()), std::stoul(args[2]), std::atol(args[3].c_str()));
    }
    std::fputs(USAGE, stderr);
    return 2;
}
