// orlemaz-drive: the harness as a command for the scripts (scripts/run, scripts/package,
// scripts/soak, scripts/fps) and the browser check. It works on the X server in DISPLAY,
// with a deadline on every wait; the scripts start that server themselves. The facts it
// prints and the names it knows come from the program's own headers.
#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "harness/app_process.h"
#include "harness/program_facts.h"
#include "input/input.h"

static const char* const USAGE =
    "Usage:\n"
    "  orlemaz-drive picture OUTPUT.png PROGRAM [ARGS...]\n"
    "      starts PROGRAM, waits until its window shows the table, saves the window as a\n"
    "      PNG, asks the window to close and waits for the exit; exits as the program did\n"
    "  orlemaz-drive counted LOG PROGRAM [ARGS...]\n"
    "      becomes PROGRAM with the swap counter preloaded, logging each swap to LOG\n"
    "  orlemaz-drive wait-window     waits until the window shows the table; prints its id\n"
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

// The keys the soak presses: the camera keys, each with the one that undoes it, and all
// others but Escape.
static const char* const OTHER_SOAK_KEYS[] = {
    "h",      "H", "x",  "X",   "a",    "space", "Return",  "Tab",       "BackSpace",
    "Delete", "1", "F1", "F12", "Home", "End",   "Page_Up", "Page_Down", "Insert"};
static std::vector<std::string> soakKeys() {
    std::vector<std::string> keys;
    for (const CameraKey& k : CAMERA_KEYS) {
        keys.push_back(xKeyName(k.key, k.special));
    }
    keys.insert(keys.end(), std::begin(OTHER_SOAK_KEYS), std::end(OTHER_SOAK_KEYS));
    return keys;
}
static std::string undoKeyOf(const std::string& key) {
    for (const CameraKey& k : CAMERA_KEYS) {
        if (key == xKeyName(k.key, k.special)) {
            return xKeyName(k.opposite, k.special);
        }
    }
    return "";
}

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
    const std::vector<std::string> soakKeyNames = soakKeys();
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
                    key = soakKeyNames[static_cast<size_t>(
                        within(0, static_cast<int>(soakKeyNames.size()) - 1))];
                }
                const std::string undoKey = undoKeyOf(key);
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
        std::stringstream content;
        content << in.rdbuf();
        const std::string held = content.str();
        int found = 0;
        for (size_t at = held.find(text); at != std::string::npos && found < count;
             at = held.find(text, at + text.size())) {
            found++;
        }
        return found >= count;
    });
}

// The menu entry a script names (its name or its label), or -1.
static int menuEntryNamed(const std::string& name) {
    for (int entry = 0; entry < MENU_ENTRY_COUNT; entry++) {
        if (name == MENU_ITEMS[entry].name || name == MENU_ITEMS[entry].label) {
            return entry;
        }
    }
    return -1;
}

// A string as a JSON string.
static std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        out += c == '\n' ? "\\n" : c == '"' ? "\\\"" : c == '\\' ? "\\\\" : std::string(1, c);
    }
    return out + "\"";
}

// The key name a browser gives a program key (KeyboardEvent.key).
static std::string browserKeyName(int key, bool special) {
    return special ? "Arrow" + xKeyName(key, special) : std::string(1, static_cast<char>(key));
}

// What the program shows outward, for the browser check: its window, its table, where its
// rods and ball start, its start-up view, its camera keys with their opposites, its menu
// and its help banner.
static int facts() {
    const TableDims table;
    const BallState ballStart;
    const ViewState start;
    std::printf("{\"window\": {\"title\": %s, \"width\": %d, \"height\": %d},\n",
                quoted(WINDOW_TITLE).c_str(), WINDOW_WIDTH, WINDOW_HEIGHT);
    std::printf(" \"table\": {\"length\": %d, \"width\": %d, \"legHeight\": %d},\n",
                table.tableLength, table.tableWidth, table.legHeight);
    std::printf(" \"rodAxisY\": %d,\n \"rodX\": [", table.legHeight + ROD_AXIS_ABOVE_LEGS);
    for (int i = 0; i < ROD_COUNT; i++) {
        std::printf("%s%d", i == 0 ? "" : ", ", ROD_SPACING * i + FIRST_ROD_X);
    }
    std::printf("],\n \"ballStart\": [%g, %g, %g],\n", ballStart.x, ballStart.y, ballStart.z);
    std::printf(" \"startView\": {\"tiltX\": %g, \"rotY\": %g, \"rotZ\": %g, \"distance\": %g, "
                "\"panX\": %d, \"panY\": %d},\n \"cameraKeys\": [",
                start.tiltX, start.rotY, start.rotZ, start.viewDistance, start.panX, start.panY);
    for (const CameraKey& k : CAMERA_KEYS) {
        std::printf("%s[%s, %s]", &k == CAMERA_KEYS ? "" : ", ",
                    quoted(browserKeyName(k.key, k.special)).c_str(),
                    quoted(browserKeyName(k.opposite, k.special)).c_str());
    }
    std::printf("],\n \"menu\": {");
    for (int entry = 0; entry < MENU_ENTRY_COUNT; entry++) {
        std::printf("%s%s: %s", entry == 0 ? "" : ", ", quoted(MENU_ITEMS[entry].name).c_str(),
                    quoted(MENU_ITEMS[entry].label).c_str());
    }
    std::printf("},\n \"helpBanner\": %s}\n", quoted(HELP_BANNER).c_str());
    return 0;
}

// Where the program's camera puts model points: numbers are the window's size, the view's
// six numbers, then x, y, z for each point.
static int project(const std::vector<std::string>& args) {
    std::vector<double> numbers;
    for (const std::string& arg : args) {
        char* end = nullptr;
        numbers.push_back(std::strtod(arg.c_str(), &end));
        if (end == arg.c_str() || *end != '\0') {
            fail("not a number: " + arg);
        }
    }
    constexpr size_t VIEW_NUMBERS = 8;
    if (numbers.size() < VIEW_NUMBERS + 3 || (numbers.size() - VIEW_NUMBERS) % 3 != 0) {
        fail("project needs the window's size, the view's six numbers and whole points");
    }
    ViewState view = startView(static_cast<int>(numbers[0]), static_cast<int>(numbers[1]));
    view.tiltX = static_cast<float>(numbers[2]);
    view.rotY = static_cast<float>(numbers[3]);
    view.rotZ = static_cast<float>(numbers[4]);
    view.viewDistance = static_cast<float>(numbers[5]);
    view.panX = static_cast<int>(numbers[6]);
    view.panY = static_cast<int>(numbers[7]);
    std::printf("[");
    for (size_t i = VIEW_NUMBERS; i < numbers.size(); i += 3) {
        const WindowPoint p = windowPointOf(view, numbers[i], numbers[i + 1], numbers[i + 2]);
        std::printf("%s[%d, %d]", i == VIEW_NUMBERS ? "" : ", ", p.x, p.y);
    }
    std::printf("]\n");
    return 0;
}

// Becomes command with the swap counter (built beside this driver) preloaded, logging to log.
static int counted(const std::string& log, std::vector<std::string> command) {
    char self[4096] = "";
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string here(self, length > 0 ? static_cast<size_t>(length) : 0);
    setenv("LD_PRELOAD",
           (here.substr(0, here.rfind('/') + 1) + "liborlemaz_swap_counter.so").c_str(), 1);
    setenv("ORLEMAZ_SWAP_LOG", log.c_str(), 1);
    std::vector<char*> words;
    for (std::string& word : command) {
        words.push_back(word.data());
    }
    words.push_back(nullptr);
    execvp(words[0], words.data());
    fail("could not start " + command[0]);
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
        std::printf("%lu\n", session.waitForWindow());
        return 0;
    }
    if (command == "counted" && args.size() >= 3) {
        return counted(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "wait-output" && (args.size() == 3 || args.size() == 4)) {
        const int count = args.size() == 4 ? std::atoi(args[3].c_str()) : 1;
        if (!waitForOutput(args[1], args[2], count)) {
            fail(args[1] + " did not show \"" + args[2] + "\" " + std::to_string(count) + " times");
        }
        return 0;
    }
    if (command == "menu" && args.size() == 2) {
        const int entry = menuEntryNamed(args[1]);
        if (entry < 0) {
            fail("the menu has no entry " + args[1]);
        }
        WindowSession session;
        waitUntilDrawn(session);
        const Rect window = session.place();
        if (!session.movePointer(window.width / 2, window.height / 2) ||
            !session.chooseMenuEntry(entry)) {
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
    if (command == "facts" && args.size() == 1) {
        return facts();
    }
    if (command == "project") {
        return project(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::fputs(USAGE, stderr);
    return 2;
}
