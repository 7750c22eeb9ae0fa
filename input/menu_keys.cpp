// The pop-up menu and the keyboard: the menu sets the interaction mode, toggles the ball
// and quits; the keys turn, tilt and zoom the camera, print the help banner and quit.
#include "input/input.h"

#include <GL/glut.h>
#include <cstdlib>

#include "app/app.h"
#include "app/scene_state.h"
#include "view/view.h"

static int menuId = 0; // identifier of the pop-up menu; created once, never used again

// Builds the pop-up menu on the right button and registers the left-click callback.
void createMenu() {
    menuId = glutCreateMenu(menuSelect);
    for (int entry = 0; entry < MENU_ENTRY_COUNT; entry++) {
        glutAddMenuEntry(MENU_ITEMS[entry].label, entry);
    }
    interaction.mode = MODE_NONE;
    glutAttachMenu(GLUT_RIGHT_BUTTON);
    glutMouseFunc(mouseButton);
}

// Applies a menu choice. The continuous animation shows its effect on the next frame.
void menuSelect(int value) {
    switch (value) {
    case MENU_MOVE_MODEL:
        interaction.mode = MODE_MOVE_WORLD;
        break;
    case MENU_MOVE_RODS:
        interaction.mode = MODE_NONE;
        break;
    case MENU_TOGGLE_BALL:
        // The ball keeps its position and velocity while it is off.
        interaction.mode = MODE_NONE;
        ball.ballOn = ball.ballOn == 0 ? 1 : 0;
        break;
    case MENU_QUIT:
        std::exit(0);
    default:
        break;
    }
}

// Adds step to a view value in double precision, storing it back as float; never clamped.
static void stepView(float* value, double step) {
    *value = static_cast<float>(*value + step);
}

// Steps the view as camera key (key, special) says; returns false for any other key.
static bool stepCameraKey(int key, bool special) {
    for (const CameraKey& cameraKey : CAMERA_KEYS) {
        if (cameraKey.key == key && cameraKey.special == special) {
            stepView(&(view.*cameraKey.field), cameraKey.step);
            return true;
        }
    }
    return false;
}

// Zoom, roll, help banner and Escape; other keys are ignored.
void keyboard(unsigned char key, int, int) {
    switch (key) {
    case KEY_ESCAPE:
        std::exit(0);
    case 'H':
    case 'h':
        for (const char* line : HELP_LINES) {
            consoleMessage("%s", line);
        }
        break;
    default:
        if (!stepCameraKey(key, false)) {
            return;
        }
    }
    resetProjection();
    glutPostRedisplay();
}

// The arrow keys turn the view about y and tilt it about x; other keys are ignored.
void specialKeys(int key, int, int) {
    if (!stepCameraKey(key, true)) {
        return;
    }
    resetProjection();
    glutPostRedisplay();
}
