// Plain mouse motion: turns and slides the bound rod, or pans the view. Motion with a
// button held is never seen, so the first event after a click carries the whole jump.
#include "input/input.h"

#include <GL/glut.h>
#include <algorithm>
#include <cmath>

#include "app/app.h"
#include "app/scene_state.h"
#include "view/view.h"

constexpr double FULL_TURN_DEGREES = 360.0;

// Brings an angle in degrees into [0, 360).
static float wrapDegrees(float angle) {
    double wrapped = std::fmod(angle + FULL_TURN_DEGREES, FULL_TURN_DEGREES);
    // fmod keeps the dividend's sign, so a jump of more than a turn to the left would
    // leave the rod drawn lifted while the ball still collided with it.
    if (wrapped < 0.0) {
        wrapped += FULL_TURN_DEGREES;
    }
    const float result = static_cast<float>(wrapped);
    return result < static_cast<float>(FULL_TURN_DEGREES) ? result : 0.0f;
}

// One degree of turn per pixel across, one unit of slide per pixel down. A slide that
// would reach a limit is dropped whole, not clamped.
static void moveBoundRod(float dx, float dy) {
    Rod& r = rods[interaction.selectedId - ROD_NAME_BASE];
    consoleMessage("\nMovimiento del raton fijado a la barra %d.", interaction.selectedId);
    r.angle = wrapDegrees(dx + r.angle);
    const float candidate = dy + r.slide;
    if (candidate > r.slideMin && candidate < r.slideMax) {
        r.slide = candidate;
    }
}

// Adds a motion's share to a pan, discarding the fraction. The menu can stop and restart
// panning while the pointer goes back unseen, so a pan can be pushed one way without end:
// it stops at PAN_LIMIT rather than overflow the int it is kept in.
static int addToPan(int pan, float share) {
    return static_cast<int>(std::clamp(pan + share, -PAN_LIMIT, PAN_LIMIT));
}

// The scene follows the pointer by a tenth of the motion across and a quarter of the
// motion up, the fraction discarded each time.
static void panView(float dx, float dy) {
    consoleMessage("\nMoviendo Mundo");
    view.panX = addToPan(view.panX, dx / PAN_DIVISOR_X);
    view.panY = addToPan(view.panY, -dy / PAN_DIVISOR_Y);
    resetProjection();
}

// Applies the motion since the previous passive event in the current mode.
void passiveMotion(int x, int y) {
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    // The first event only adopts the pointer position.
    if (interaction.lastMouseX == -1.0f) {
        interaction.lastMouseX = fx;
    }
    if (interaction.lastMouseY == -1.0f) {
        interaction.lastMouseY = fy;
    }
    const float dx = fx - interaction.lastMouseX;
    const float dy = fy - interaction.lastMouseY;

    if (interaction.mode == MODE_ROD) {
        moveBoundRod(dx, dy);
    } else if (interaction.mode == MODE_MOVE_WORLD) {
        panView(dx, dy);
    }

    interaction.lastMouseX = fx;
    interaction.lastMouseY = fy;
    glutPostRedisplay();
}
