// Plain mouse motion: turning and sliding the bound rod, panning the view, and tracking
// the pointer when nothing is bound.
#include <cstring>
#include <string>

#include "app/scene_state.h"
#include "input/input.h"
#include "support/gl_test_env.h"

namespace {

using MotionTest = SceneTest;

// Where the pointer was at the previous motion event in every case below.
constexpr int START_X = 300;
constexpr int START_Y = 200;

void bindRod(int index) {
    interaction.mode = MODE_ROD;
    interaction.selectedId = index + ROD_NAME_BASE;
    interaction.lastMouseX = START_X;
    interaction.lastMouseY = START_Y;
}

// Moves the pointer to (x, y); returns what the event printed.
std::string moveTo(int x, int y) {
    return consoleOf([=] { passiveMotion(x, y); });
}

std::string rodLine(int index) {
    return "\nMovimiento del raton fijado a la barra " + std::to_string(index + 2) + ".";
}

TEST_F(MotionTest, FirstEventAdoptsThePointerAndMovesNothing) {
    for (int mode : {MODE_ROD, MODE_MOVE_WORLD}) {
        resetScene();
        interaction.mode = mode;
        interaction.selectedId = 5;
        rods[3].angle = 30.0f;
        rods[3].slide = 2.0f;
        const std::string printed = moveTo(123, 456);
        EXPECT_EQ(interaction.lastMouseX, 123.0f);
        EXPECT_EQ(interaction.lastMouseY, 456.0f);
        EXPECT_EQ(rods[3].angle, 30.0f);
        EXPECT_EQ(rods[3].slide, 2.0f);
        EXPECT_EQ(view.panX, 0);
        EXPECT_EQ(view.panY, 0);
        // The event still counts as a motion of the bound rod or of the world.
        EXPECT_EQ(printed, mode == MODE_ROD ? rodLine(3) : "\nMoviendo Mundo");
    }
}

struct RodCase {
    int rod;
    float angle, slide; // before the event
    int dx, dy;         // pixels
    float angleAfter, slideAfter;
};

TEST_F(MotionTest, BoundRodTurnsOneDegreeAndSlidesOneUnitPerPixel) {
    const RodCase cases[] = {
        {3, 355, 0, 10, 0, 5, 0},   // past a full turn
        {3, 10, 0, -20, 0, 350, 0}, // below zero
        {3, 0, 0, -360, 0, 0, 0},   // exactly one turn back
        {3, 0, 0, -400, 0, 320, 0}, // more than a turn left in one event: -40 is 320
        {3, 0, 0, -1000, 0, 80, 0}, // -1000 is 80 after three turns
        {3, 0, 0, 1000, 0, 280, 0}, // and 1000 is 280
        {3, 8, 8, 0, 1, 8, 9},      // rod 3 slides strictly between -4 and 10
        {3, 0, 9, 0, 1, 0, 9},      // 10 is not below 10: dropped
        {3, 0, 8, 0, 2, 0, 8},      // would reach 10: dropped whole, not clamped
        {3, 0, -3, 0, -1, 0, -3},   // -4 is not above -4
        {3, 0, -2, 0, -1, 0, -3},    {3, 0, 0, 7, -3, 7, -3}, // turn and slide in one event
        {1, 0, 0, 0, 23, 0, 23}, // rod 1 has its own limits, -19 and 24
        {1, 0, 0, 0, 24, 0, 0},      {1, 0, 0, 0, -19, 0, 0},
        {7, 300, 0, 0, -7, 300, -7}, // rod 7: -8 to 15
    };
    for (const RodCase& c : cases) {
        SCOPED_TRACE("rod " + std::to_string(c.rod) + " angle " + std::to_string(c.angle) +
                     " slide " + std::to_string(c.slide) + " motion " + std::to_string(c.dx) + "," +
                     std::to_string(c.dy));
        resetScene();
        bindRod(c.rod);
        rods[c.rod].angle = c.angle;
        rods[c.rod].slide = c.slide;
        const std::string printed = moveTo(START_X + c.dx, START_Y + c.dy);
        EXPECT_EQ(rods[c.rod].angle, c.angleAfter);
        EXPECT_EQ(rods[c.rod].slide, c.slideAfter);
        EXPECT_EQ(printed, rodLine(c.rod));
        EXPECT_EQ(interaction.lastMouseX, static_cast<float>(START_X + c.dx));
        EXPECT_EQ(interaction.lastMouseY, static_cast<float>(START_Y + c.dy));
        for (int other = 0; other < ROD_COUNT; other++) {
            if (other != c.rod) {
                EXPECT_EQ(rods[other].angle, 0.0f) << "rod " << other;
                EXPECT_EQ(rods[other].slide, 0.0f) << "rod " << other;
            }
        }
    }
}

TEST_F(MotionTest, EveryEventOfABoundRodIsReportedAndTheLimitStopsIt) {
    bindRod(3);
    rods[3].slide = 8.0f;
    std::string printed;
    for (int step = 1; step <= 3; step++) {
        printed += moveTo(START_X, START_Y + step);
    }
    EXPECT_EQ(rods[3].slide, 9.0f);
    EXPECT_EQ(printed, rodLine(3) + rodLine(3) + rodLine(3));
}

struct PanCase {
    int panX, panY; // before the event
    int dx, dy;     // pixels, y grows downwards
    int panXAfter, panYAfter;
};

TEST_F(MotionTest, PanningFollowsThePointerAndDropsTheFraction) {
    const PanCase cases[] = {
        {0, 0, 9, 0, 0, 0},                            // 0.9 truncates to 0
        {0, 0, 10, 0, 1, 0},     {-3, 0, 5, 0, -2, 0}, // -2.5 truncates toward zero
        {-3, 0, -5, 0, -3, 0},                         // -3.5 too
        {0, 0, 0, -4, 0, 1},                           // up by a quarter of the motion
        {0, 0, 0, 3, 0, 0},                            // -0.75
        {0, 2, 0, 9, 0, 0},                            // 2 - 2.25
        {4, -1, -25, 10, 1, -3},
    };
    for (const PanCase& c : cases) {
        SCOPED_TRACE("pan " + std::to_string(c.panX) + "," + std::to_string(c.panY) + " motion " +
                     std::to_string(c.dx) + "," + std::to_string(c.dy));
        resetScene();
        interaction.mode = MODE_MOVE_WORLD;
        interaction.lastMouseX = START_X;
        interaction.lastMouseY = START_Y;
        view.panX = c.panX;
        view.panY = c.panY;
        const std::string printed = moveTo(START_X + c.dx, START_Y + c.dy);
        EXPECT_EQ(view.panX, c.panXAfter);
        EXPECT_EQ(view.panY, c.panYAfter);
        EXPECT_EQ(printed, "\nMoviendo Mundo");
        // The camera is reloaded at once: the table's corner sits at (-50, -35, -400)
        // shifted by the pan.
        GLint matrixMode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        EXPECT_EQ(matrixMode, GL_MODELVIEW);
        const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
        EXPECT_DOUBLE_EQ(modelview.m[12], -50 + c.panXAfter);
        EXPECT_DOUBLE_EQ(modelview.m[13], -35 + c.panYAfter);
        EXPECT_DOUBLE_EQ(modelview.m[14], -400);
    }
}

TEST_F(MotionTest, WithNothingBoundOnlyThePointerIsTracked) {
    interaction.lastMouseX = START_X;
    interaction.lastMouseY = START_Y;
    interaction.selectedId = 5; // left over from a release
    rods[3].angle = 20.0f;
    const Rod rodsBefore[ROD_COUNT] = {rods[0], rods[1], rods[2], rods[3],
                                       rods[4], rods[5], rods[6], rods[7]};
    const ViewState viewBefore = view;
    const Mat4 modelviewBefore = readMatrix(GL_MODELVIEW_MATRIX);
    EXPECT_EQ(moveTo(START_X + 40, START_Y - 30), "");
    EXPECT_EQ(std::memcmp(rodsBefore, rods, sizeof rods), 0);
    EXPECT_EQ(std::memcmp(&viewBefore, &view, sizeof view), 0);
    EXPECT_EQ(interaction.mode, MODE_NONE);
    EXPECT_EQ(interaction.selectedId, 5);
    EXPECT_EQ(interaction.lastMouseX, START_X + 40.0f);
    EXPECT_EQ(interaction.lastMouseY, START_Y - 30.0f);
    const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
    EXPECT_EQ(std::memcmp(&modelviewBefore, &modelview, sizeof modelview), 0);
}

} // namespace
