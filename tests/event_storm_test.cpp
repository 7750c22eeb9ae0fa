// Robustness: a long seeded storm of random events through the program's real handlers in
// the shared window, with the scene's invariants checked after every event; the input
// that used to push the view without end; and memory over many clicks.
// ORLEMAZ_STORM_SEED replays a storm, ORLEMAZ_STORM_EVENTS sets its length.
#include <GL/glut.h>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "app/scene_state.h"
#include "draw/draw.h"
#include "input/input.h"
#include "support/gl_test_env.h"
#include "view/view.h"

namespace {

using EventStormTest = SceneTest;

constexpr int FRAME_EVERY = 100; // events between two ordinary frames
constexpr unsigned long long DEFAULT_EVENTS = 200000;
constexpr int X_COORD_MIN = SHRT_MIN; // X carries event coordinates and sizes in 16 bits
constexpr int X_COORD_MAX = SHRT_MAX;

unsigned long long envNumber(const char* name, unsigned long long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// The generator: sends one random event to the program's handlers and says what it was.
// The pointer wanders by small steps, now and then jumps thousands of pixels away and
// comes back on the next motion; clicks land inside the window, on or just past its edge,
// far outside, or on a rod, wherever the camera now puts it.
std::string fireRandomEvent(std::mt19937_64& rng, int* pointerX, int* pointerY, int* homeX,
                            int* homeY) {
    auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    auto pickOne = [&](std::initializer_list<int> values) {
        return values.begin()[uniform(0, static_cast<int>(values.size()) - 1)];
    };
    const int kind = uniform(0, 99);
    if (kind < 14) {
        int key = uniform(0, 254);
        key += key >= KEY_ESCAPE ? 1 : 0;
        keyboard(static_cast<unsigned char>(key), *pointerX, *pointerY);
        return "key " + std::to_string(key);
    }
    if (kind < 22) {
        const int key = uniform(0, 3) == 0 ? uniform(INT_MIN, INT_MAX) : uniform(-5, 120);
        specialKeys(key, *pointerX, *pointerY);
        return "special key " + std::to_string(key);
    }
    if (kind < 28) {
        int value = uniform(0, 3) == 0 ? uniform(INT_MIN, INT_MAX)
                                       : uniform(MENU_MOVE_MODEL, MENU_TOGGLE_BALL);
        value = value == MENU_QUIT ? MENU_MOVE_MODEL : value;
        menuSelect(value);
        return "menu " + std::to_string(value);
    }
    if (kind < 30) {
        int width = pickOne({0, 1, WINDOW_WIDTH, X_COORD_MAX, uniform(0, 2000)});
        int height = pickOne({0, 1, WINDOW_HEIGHT, X_COORD_MAX, uniform(0, 2000)});
        if (uniform(0, 1) == 0) {
            width = WINDOW_WIDTH;
            height = WINDOW_HEIGHT;
        }
        reshape(width, height);
        return "reshape " + std::to_string(width) + "x" + std::to_string(height);
    }
    if (kind < 46) {
        const int button = uniform(0, 1) == 0 ? GLUT_LEFT_BUTTON : uniform(0, 4);
        const int state = uniform(0, 1) == 0 ? GLUT_DOWN : GLUT_UP;
        int x = uniform(0, WINDOW_WIDTH - 1), y = uniform(0, WINDOW_HEIGHT - 1);
        const int where = uniform(0, 3);
        if (where == 1) {
            x = pickOne({-1, 0, WINDOW_WIDTH - 1, WINDOW_WIDTH, x});
            y = pickOne({-1, 0, WINDOW_HEIGHT - 1, WINDOW_HEIGHT, y});
        } else if (where == 2) {
            x = uniform(X_COORD_MIN, X_COORD_MAX);
            y = uniform(X_COORD_MIN, X_COORD_MAX);
        } else if (where == 3) {
            // A point of a bar over the pitch, whichever way the rod is turned.
            const Rod& r = rods[uniform(0, ROD_COUNT - 1)];
            const WindowPosition at =
                projectPoint(view, r.x, rodAxisY(), uniform(0, tableDims.tableWidth));
            if (at.inFront && std::fabs(at.x) < X_COORD_MAX && std::fabs(at.y) < X_COORD_MAX) {
                x = static_cast<int>(at.x);
                y = static_cast<int>(at.y);
            }
        }
        mouseButton(button, state, x, y);
        return "button " + std::to_string(button) + (state == GLUT_DOWN ? " down" : " up") +
               " at " + std::to_string(x) + "," + std::to_string(y);
    }
    if (*pointerX != *homeX || *pointerY != *homeY) {
        *pointerX = *homeX;
        *pointerY = *homeY;
    } else if (uniform(0, 9) == 0) {
        *pointerX = std::clamp(*pointerX + uniform(-30000, 30000), X_COORD_MIN, X_COORD_MAX);
        *pointerY = std::clamp(*pointerY + uniform(-30000, 30000), X_COORD_MIN, X_COORD_MAX);
    } else {
        *pointerX = *homeX = std::clamp(*pointerX + uniform(-12, 12), 0, WINDOW_WIDTH - 1);
        *pointerY = *homeY = std::clamp(*pointerY + uniform(-12, 12), 0, WINDOW_HEIGHT - 1);
    }
    passiveMotion(*pointerX, *pointerY);
    return "motion to " + std::to_string(*pointerX) + "," + std::to_string(*pointerY);
}

// Whether text is nothing but the program's own messages, in any number and order.
bool onlyOwnMessages(const std::string& text) {
    static const char* const FIXED[] = {"Choque!\n", " Escenario \n", "\nMoviendo Mundo"};
    size_t at = 0;
    auto take = [&](const std::string& piece) {
        const bool found = text.compare(at, piece.size(), piece) == 0;
        at += found ? piece.size() : 0;
        return found;
    };
    auto takeNumber = [&](long low, long high) {
        const char* begin = text.c_str() + at;
        char* end = nullptr;
        const long value = std::strtol(begin, &end, 10);
        const bool found = (*begin == '-' || std::isdigit(static_cast<unsigned char>(*begin))) &&
                           end > begin && value >= low && value <= high;
        at += found ? static_cast<size_t>(end - begin) : 0;
        return found;
    };
    while (at < text.size()) {
        const size_t start = at;
        auto orBack = [&](bool found) {
            at = found ? at : start;
            return found;
        };
        const bool known =
            std::any_of(std::begin(FIXED), std::end(FIXED), take) ||
            std::any_of(std::begin(HELP_LINES), std::end(HELP_LINES), take) ||
            orBack(take(" Id: ") && takeNumber(INT_MIN, INT_MAX) && take(" \n")) ||
            orBack(take("\nMovimiento del raton fijado a la barra ") &&
                   takeNumber(ROD_NAME_BASE, ROD_NAME_BASE + ROD_COUNT - 1) && take("."));
        if (!known) {
            return false;
        }
    }
    return true;
}

// The invariant check: what the scene keeps whatever the input; returns what broke.
std::string brokenInvariant(const std::string& newConsole) {
    std::string broken;
    for (int i = 0; i < ROD_COUNT; i++) {
        const Rod& r = rods[i];
        if (!(r.slide > r.slideMin && r.slide < r.slideMax)) {
            broken += " rod " + std::to_string(i) + " slide " + std::to_string(r.slide);
        }
        if (!(r.angle >= 0.0f && r.angle < 360.0f)) {
            broken += " rod " + std::to_string(i) + " angle " + std::to_string(r.angle);
        }
    }
    if (interaction.mode == MODE_ROD && !(interaction.selectedId >= ROD_NAME_BASE &&
                                          interaction.selectedId < ROD_NAME_BASE + ROD_COUNT)) {
        broken += " bound to name " + std::to_string(interaction.selectedId);
    }
    // The ball's surface never passes the walls' inner faces; it only changes direction.
    const float speed = std::fabs(BallState{}.vx);
    const float lowest = tableDims.wallThickness + static_cast<float>(BALL_RADIUS);
    const float highestX = static_cast<float>(tableDims.tableLength) - lowest;
    const float highestZ = static_cast<float>(tableDims.tableWidth) - lowest;
    if (!(ball.x >= lowest && ball.x <= highestX && ball.z >= lowest && ball.z <= highestZ) ||
        std::fabs(ball.vx) != speed || std::fabs(ball.vz) != speed) {
        broken += " ball at " + std::to_string(ball.x) + "," + std::to_string(ball.z) + " moving " +
                  std::to_string(ball.vx) + "," + std::to_string(ball.vz);
    }
    if (stackDepth(GL_MODELVIEW_STACK_DEPTH) != 1 || stackDepth(GL_PROJECTION_STACK_DEPTH) != 1) {
        broken += " matrix stacks left pushed";
    }
    if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
        broken += " GL error " + std::to_string(error);
    }
    if (!onlyOwnMessages(newConsole)) {
        broken += " printed \"" + newConsole + "\"";
    }
    return broken;
}

TEST_F(EventStormTest, InvariantsHoldThroughALongRandomStorm) {
    const unsigned long long seed = envNumber("ORLEMAZ_STORM_SEED", std::random_device{}());
    const unsigned long long events = envNumber("ORLEMAZ_STORM_EVENTS", DEFAULT_EVENTS);
    std::cerr << "event storm: " << events << " events, ORLEMAZ_STORM_SEED=" << seed
              << " replays it\n";
    std::mt19937_64 rng(seed);
    int pointerX = WINDOW_WIDTH / 2, pointerY = WINDOW_HEIGHT / 2;
    int homeX = pointerX, homeY = pointerY;
    unsigned long long bindings = 0, hits = 0;
    std::string failure;
    {
        ConsoleCapture console; // the test's own report waits until it is closed
        size_t consoleSeen = 0;
        for (unsigned long long i = 1; i <= events && failure.empty(); i++) {
            const int modeBefore = interaction.mode;
            const std::string event = fireRandomEvent(rng, &pointerX, &pointerY, &homeX, &homeY);
            if (i % FRAME_EVERY == 0) {
                display();
            }
            const std::string output = console.text(consoleSeen);
            consoleSeen += output.size();
            bindings += modeBefore != MODE_ROD && interaction.mode == MODE_ROD ? 1 : 0;
            hits += output.find("Choque!") != std::string::npos ? 1 : 0;
            const std::string broken = brokenInvariant(output);
            failure =
                broken.empty() ? "" : "event " + std::to_string(i) + " (" + event + "):" + broken;
        }
    }
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
    ASSERT_EQ(failure, "") << "ORLEMAZ_STORM_SEED=" << seed << " replays it";
    std::cerr << "event storm: survived, " << bindings << " rods bound, " << hits
              << " events with a hit of the ball\n";
}

// Pushes the view the same way, round trip after round trip, until the pan stops moving or
// moves back; returns the trips made.
long long pushPanOneWay(int direction, long long maxTrips, bool* movedBack) {
    ConsoleCapture quiet;
    const int from = direction > 0 ? X_COORD_MIN : X_COORD_MAX;
    const int to = direction > 0 ? X_COORD_MAX : X_COORD_MIN;
    passiveMotion(from, to);
    for (long long trip = 0; trip < maxTrips; trip++) {
        const long long panX = view.panX, panY = view.panY;
        menuSelect(MENU_MOVE_MODEL);
        passiveMotion(to, from); // across, and up the screen for the right-hand trip
        menuSelect(MENU_MOVE_RODS);
        passiveMotion(from, to); // back, unseen by the pan
        *movedBack = direction * (view.panX - panX) < 0 || direction * (view.panY - panY) < 0;
        if (*movedBack || (view.panX == panX && view.panY == panY)) {
            return trip;
        }
    }
    return maxTrips;
}

// The menu can stop and restart panning while the pointer goes back unseen, so every
// round trip pushes the view the same way, without end. The pan must stop before the int
// it is kept in overflows, rather than wrap round to the far side.
TEST_F(EventStormTest, PanPushedTheSameWayWithoutEndStopsInsteadOfWrapping) {
    const long long perTrip = static_cast<long long>((X_COORD_MAX - X_COORD_MIN) / PAN_DIVISOR_X);
    const long long tripsPastTheEnd = INT_MAX / perTrip + 2;
    for (const int direction : {1, -1}) {
        SCOPED_TRACE(direction > 0 ? "to the right and up" : "to the left and down");
        resetScene();
        bool movedBack = false;
        const long long trips = pushPanOneWay(direction, tripsPastTheEnd, &movedBack);
        EXPECT_FALSE(movedBack) << "the pan wrapped after " << trips << " trips";
        EXPECT_LT(trips, tripsPastTheEnd) << "the pan never stopped";
        // The camera still stands where the pan says, in the float it is given in.
        const Mat4 camera = readMatrix(GL_MODELVIEW_MATRIX);
        EXPECT_EQ(camera.m[12], static_cast<float>(-tableDims.tableLength / 2 + view.panX));
        EXPECT_EQ(camera.m[13], static_cast<float>(-tableDims.tableWidth / 2 + view.panY));
    }
}

// Resident memory of this process, from the kernel's own account.
long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Every click draws the whole frame in selection mode; whatever the renderer takes for it
// must come back, or memory grows with every click (by its share of a 512 KB vertex
// buffer, before the primitives replayed display lists in selection mode).
TEST_F(EventStormTest, ClickingOverAndOverKeepsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer checks this build, and its quarantine holds memory";
#endif
    constexpr int WARM_UP_CLICKS = 50;
    constexpr int CLICKS = 400;
    constexpr long ALLOWED_GROWTH_KB = 4096; // 10 KB a click
    long grownKb = 0;
    {
        ConsoleCapture quiet;
        auto click = [] {
            mouseButton(GLUT_LEFT_BUTTON, GLUT_DOWN, WINDOW_WIDTH / 2, WINDOW_HEIGHT / 2);
        };
        for (int i = 0; i < WARM_UP_CLICKS; i++) {
            click();
        }
        const long before = residentKb();
        for (int i = 0; i < CLICKS; i++) {
            click();
        }
        grownKb = residentKb() - before;
    }
    EXPECT_LT(grownKb, ALLOWED_GROWTH_KB) << "after " << CLICKS << " clicks";
    EXPECT_EQ(selectionListMisses(), 0) << "the frame outgrew the selection lists' table";
}

} // namespace
