// Picking against the real renderer: a left press over a rod, the ball, the floor, a
// handle beyond the table or the empty sky, read back through the hit records.
#include <GL/glut.h>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/scene_state.h"
#include "input/input.h"
#include "support/gl_test_env.h"

namespace {

using PickingTest = SceneTest;

// Half the pick region (5 x 5 pixels) plus a pixel for rounding the click position.
constexpr double REGION_MARGIN = 3.5;

// An axis-aligned box in model units that holds some part of the scene.
struct Box {
    double x0, y0, z0, x1, y1, z1;
};

// True when the 5 x 5 region around window point (px, py) may touch the box: a box in
// front of the camera projects inside the rectangle bounding its eight projected corners.
bool regionMayTouch(const Box& b, int px, int py) {
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (int corner = 0; corner < 8; corner++) {
        const WindowPosition at = projectPoint(view, corner & 1 ? b.x1 : b.x0,
                                               corner & 2 ? b.y1 : b.y0, corner & 4 ? b.z1 : b.z0);
        if (!at.inFront) {
            return true;
        }
        minX = std::min(minX, at.x), maxX = std::max(maxX, at.x);
        minY = std::min(minY, at.y), maxY = std::max(maxY, at.y);
    }
    return px + REGION_MARGIN >= minX && px - REGION_MARGIN <= maxX && py + REGION_MARGIN >= minY &&
           py - REGION_MARGIN <= maxY;
}

// The walls and the pitch (y = 20 to 32 over the whole table) and the four legs.
std::vector<Box> tableBoxes() {
    std::vector<Box> boxes = {{0, 20, 0, 100, 32, 70}};
    for (double legX : {5.0, 90.0}) {
        for (double legZ : {5.0, 60.0}) {
            boxes.push_back({legX, 0, legZ, legX + 5, 20, legZ + 5});
        }
    }
    return boxes;
}

// Rods at rest: knob radius 2 and players hanging from y = 34 to 25 around the axis at
// y = 30; bar, knob and handle within z = -35 to 105 for every overhang.
std::vector<Box> rodBoxes(int except) {
    std::vector<Box> boxes;
    for (int i = 0; i < ROD_COUNT; i++) {
        if (i != except) {
            const double x = 11 * i + 12;
            boxes.push_back({x - 2.5, 25, -35, x + 2.5, 35, 105});
        }
    }
    return boxes;
}

std::vector<Box> join(std::vector<Box> a, const std::vector<Box>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Point {
    double x, y, z;
};

// Rod 3's bar between its players at z = 40 and 55, each 3 units wide along the rod.
constexpr Point ROD3_BAR = {45, 30, 47};

// The window pixel nearest to a model point under the current view; fails off screen.
void windowPoint(const Point& p, int* px, int* py) {
    const WindowPosition at = projectPoint(view, p.x, p.y, p.z);
    ASSERT_TRUE(at.inFront);
    *px = static_cast<int>(std::lround(at.x));
    *py = static_cast<int>(std::lround(at.y));
    ASSERT_TRUE(*px >= 0 && *px < WINDOW_WIDTH && *py >= 0 && *py < WINDOW_HEIGHT)
        << *px << "," << *py;
}

// A left press at (x, y); returns what it printed.
std::string leftPress(int x, int y) {
    return consoleOf([=] { mouseButton(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y); });
}

struct PickCase {
    const char* what;
    Point target;
    std::vector<Box> keepClear; // parts that must lie outside the pick region
    int ballOn;
    int startMode, startId;
    std::string console;
    int mode, selectedId;
};

TEST_F(PickingTest, LeftPressBindsReleasesOrIgnoresByWhatLiesUnderThePointer) {
    const std::vector<Box> others = rodBoxes(3);
    const std::vector<Box> wholeTable = join(tableBoxes(), rodBoxes(-1));
    const Point sky = {50, 10, -500}, floorBehind = {50, 0, -300}, handle = {45, 30, 100};
    const Point betweenRods = {50.5, 23, 35};
    // The floor up to z = 300; the rest, nearer the camera, lies below the window.
    const std::vector<Box> floorAhead = {{-500, 0, -500, 500, 0, 300}};
    const std::string floorOnly = " Escenario \n Id: -1 \n";
    const std::vector<PickCase> cases = {
        // Floor, table and rod: the third record names the rod.
        {"rod", ROD3_BAR, others, 0, MODE_NONE, -1, " Id: 5 \n", MODE_ROD, 5},
        {"rod while one is bound", ROD3_BAR, others, 0, MODE_ROD, 3, " Id: 5 \n", MODE_NONE, 5},
        {"rod while panning", ROD3_BAR, others, 0, MODE_MOVE_WORLD, -1, " Id: 5 \n", MODE_ROD, 5},
        // Sky above the floor's far edge: no records at all, the binding stays.
        {"sky", sky, join(wholeTable, floorAhead), 0, MODE_ROD, 4, "", MODE_ROD, 4},
        // A single record; word 11 keeps the bottom name the buffer was filled with.
        {"floor", floorBehind, wholeTable, 0, MODE_ROD, 5, floorOnly, MODE_NONE, -1},
        // Team 0's handle of rod 3 lies beyond z = 110 - 15: floor and rod, no table.
        {"handle", handle, join(tableBoxes(), others), 0, MODE_MOVE_WORLD, 7, " Id: -1 \n",
         MODE_NONE, -1},
        // Between rods 3 and 4 the ball is drawn under the last rod's name.
        {"ball", betweenRods, rodBoxes(-1), 1, MODE_NONE, -1, " Id: 9 \n", MODE_ROD, 9},
    };
    for (const PickCase& c : cases) {
        SCOPED_TRACE(c.what);
        resetScene();
        // A rod pick first leaves its name in the buffer, so a stale read would show.
        int rodX = 0, rodY = 0, px = 0, py = 0;
        ASSERT_NO_FATAL_FAILURE(windowPoint(ROD3_BAR, &rodX, &rodY));
        ASSERT_NO_FATAL_FAILURE(windowPoint(c.target, &px, &py));
        for (const Box& b : c.keepClear) {
            ASSERT_FALSE(regionMayTouch(b, px, py))
                << "click at " << px << "," << py << " may touch box from " << b.x0 << "," << b.y0
                << "," << b.z0;
        }
        leftPress(rodX, rodY);
        if (c.ballOn) {
            ball.ballOn = 1;
            ball.x = static_cast<float>(c.target.x);
            ball.z = static_cast<float>(c.target.z);
        }
        interaction.mode = c.startMode;
        interaction.selectedId = c.startId;

        const Mat4 projection = readMatrix(GL_PROJECTION_MATRIX);
        const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
        const GLint projectionDepth = stackDepth(GL_PROJECTION_STACK_DEPTH);
        const GLint modelviewDepth = stackDepth(GL_MODELVIEW_STACK_DEPTH);
        const std::string printed = leftPress(px, py);

        EXPECT_EQ(printed, c.console);
        EXPECT_EQ(interaction.mode, c.mode);
        EXPECT_EQ(interaction.selectedId, c.selectedId);
        if (c.ballOn) {
            // The pick pass ran one ball step: drawn at the target, then moved on.
            EXPECT_EQ(ball.prevX, static_cast<float>(c.target.x));
            EXPECT_EQ(ball.x, static_cast<float>(c.target.x) + 1.5f);
            EXPECT_EQ(ball.z, static_cast<float>(c.target.z) + 1.5f);
        }
        // resetProjection after the pick puts the view back as it was.
        GLint matrixMode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        EXPECT_EQ(matrixMode, GL_MODELVIEW);
        EXPECT_EQ(stackDepth(GL_PROJECTION_STACK_DEPTH), projectionDepth);
        EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelviewDepth);
        const Mat4 projectionAfter = readMatrix(GL_PROJECTION_MATRIX);
        const Mat4 modelviewAfter = readMatrix(GL_MODELVIEW_MATRIX);
        for (int i = 0; i < 16; i++) {
            EXPECT_DOUBLE_EQ(projectionAfter.m[i], projection.m[i]) << "projection " << i;
            EXPECT_DOUBLE_EQ(modelviewAfter.m[i], modelview.m[i]) << "modelview " << i;
        }
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(PickingTest, OnlyALeftPressPicks) {
    ball.ballOn = 1;
    const BallState ballBefore = ball;
    int x = 0, y = 0;
    ASSERT_NO_FATAL_FAILURE(windowPoint(ROD3_BAR, &x, &y));
    EXPECT_EQ(consoleOf([=] {
                  mouseButton(GLUT_LEFT_BUTTON, GLUT_UP, x, y);
                  mouseButton(GLUT_MIDDLE_BUTTON, GLUT_DOWN, x, y);
              }),
              "");
    EXPECT_EQ(interaction.mode, MODE_NONE);
    EXPECT_EQ(interaction.selectedId, -1);
    EXPECT_EQ(ball.x, ballBefore.x);
    EXPECT_EQ(ball.z, ballBefore.z);
}

} // namespace
