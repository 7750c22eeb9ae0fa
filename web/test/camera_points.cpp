// Tells the browser check (web/test/browser_test.mjs) what the native program shows outward
// and where its camera puts model points, from the program's own headers and the harness's
// camera model (harness/camera_model.h, which the native tests hold to the program's
// matrices). Needs no X server.
// Usage: camera_points facts
//            prints the window, the table, the rods' and the ball's start, the start-up view,
//            the camera keys with their opposites, the menu and the help banner, as JSON
//        camera_points WIDTH HEIGHT TILT_X ROT_Y ROT_Z DISTANCE PAN_X PAN_Y X Y Z [X Y Z ...]
//            prints one JSON array of [x, y] window pixels, origin top left: the pixel each
//            point falls in, as X numbers a pointer's position (both rounded down)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness/camera_model.h"
#include "harness/help_banner.h"
#include "harness/window_session.h"
#include "input/input.h"

constexpr size_t VIEW_ARGS = 8; // the window's size, then the view's six numbers

// A string as a JSON string.
static std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        out += c == '\n' ? "\\n" : c == '"' ? "\\\"" : c == '\\' ? "\\\\" : std::string(1, c);
    }
    return out + "\"";
}

// The name a browser gives a program key (KeyboardEvent.key).
static std::string browserKeyName(int key, bool special) {
    return special ? "Arrow" + xKeyName(key, special) : std::string(1, static_cast<char>(key));
}

// What the program shows outward, as JSON.
static void printFacts() {
    const TableDims table;
    const BallState ballStart;
    const ViewState start;
    std::printf("{\"window\": {\"title\": %s, \"width\": %d, \"height\": %d},\n",
                quoted(WINDOW_TITLE).c_str(), WINDOW_WIDTH, WINDOW_HEIGHT);
    std::printf(" \"table\": {\"length\": %d, \"width\": %d, \"legHeight\": %d},\n",
                table.tableLength, table.tableWidth, table.legHeight);
    std::printf(" \"pitchY\": %g,\n \"rodAxisY\": %g,\n \"rodX\": [", pitchY(), rodAxisY());
    for (int i = 0; i < ROD_COUNT; i++) {
        std::printf("%s%g", i == 0 ? "" : ", ", rodX(i));
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
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "facts") {
        printFacts();
        return 0;
    }
    std::vector<double> numbers;
    for (int i = 1; i < argc; i++) {
        char* end = nullptr;
        numbers.push_back(std::strtod(argv[i], &end));
        if (end == argv[i] || *end != '\0') {
            numbers.clear();
            break;
        }
    }
    if (numbers.size() < VIEW_ARGS + 3 || (numbers.size() - VIEW_ARGS) % 3 != 0) {
        std::fprintf(stderr, "usage: camera_points facts\n"
                             "       camera_points WIDTH HEIGHT TILT_X ROT_Y ROT_Z DISTANCE "
                             "PAN_X PAN_Y X Y Z [X Y Z ...]\n");
        return 2;
    }
    ViewState view = startView(static_cast<int>(numbers[0]), static_cast<int>(numbers[1]));
    view.tiltX = static_cast<float>(numbers[2]);
    view.rotY = static_cast<float>(numbers[3]);
    view.rotZ = static_cast<float>(numbers[4]);
    view.viewDistance = static_cast<float>(numbers[5]);
    view.panX = static_cast<int>(numbers[6]);
    view.panY = static_cast<int>(numbers[7]);
    std::printf("[");
    for (size_t i = VIEW_ARGS; i < numbers.size(); i += 3) {
        const WindowPoint p = windowPointOf(view, numbers[i], numbers[i + 1], numbers[i + 2]);
        std::printf("%s[%d, %d]", i == VIEW_ARGS ? "" : ", ", p.x, p.y);
    }
    std::printf("]\n");
    return 0;
}
