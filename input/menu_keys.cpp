// The pop-up menu and the keyboard: the menu sets the interaction mode, toggles the ball
// and quits; the keys turn, tilt and zoom the camera, print the help banner and quit.
#include "input/input.h"

#include <GL/glut.h>
#include <cstdlib>

#include "app/app.h"
#include "app/scene_state.h"
#include "view/view.h"

// Menu entry values.
enum MenuEntry {
    MENU_MOVE_MODEL = 0,
    MENU_MOVE_RODS = 1,
    MENU_TOGGLE_BALL = 2,
    MENU_QUIT = 3,
};

constexpr unsigned char KEY_ESCAPE = 27;

static int menuId = 0; // identifier of the pop-up menu; created once, never used again

// Builds the pop-up menu on the right button and registers the left-click callback.
void createMenu() {
    menuId = glutCreateMenu(menuSelect);
    glutAddMenuEntry("MOVER MODELO", MENU_MOVE_MODEL);
    glutAddMenuEntry("MOVER BARRAS", MENU_MOVE_RODS);
    glutAddMenuEntry("PONER/QUITAR BOLA", MENU_TOGGLE_BALL);
    glutAddMenuEntry("Salir", MENU_QUIT);
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

// Zoom, roll, help banner and Escape; other keys are ignored.
void keyboard(unsigned char key, int, int) {
    switch (key) {
    case KEY_ESCAPE:
        std::exit(0);
    case '+':
        stepView(&view.viewDistance, -VIEW_STEP);
        break;
    case '-':
        stepView(&view.viewDistance, VIEW_STEP);
        break;
    case 'H':
    case 'h':
        consoleMessage("\n PROYECTO CAD");
        consoleMessage("\n ORLEMAZ");
        consoleMessage("\n Escape: Salir");
        consoleMessage("\n\n\n");
        break;
    case 'Z':
        stepView(&view.rotZ, -VIEW_STEP);
        break;
    case 'z':
        stepView(&view.rotZ, VIEW_STEP);
        break;
    default:
        return;
    }
    resetProjection();
    glutPostRedisplay();
}

// The arrow keys turn the view about y and tilt it about x; other keys are ignored.
void specialKeys(int key, int, int) {
    switch (key) {
    case GLUT_KEY_LEFT:
        stepView(&view.rotY, VIEW_STEP);
        break;
    case GLUT_KEY_UP:
        stepView(&view.tiltX, VIEW_STEP);
        break;
    case GLUT_KEY_RIGHT:
        stepView(&view.rotY, -VIEW_STEP);
        break;
    case GLUT_KEY_DOWN:
        stepView(&view.tiltX, -VIEW_STEP);
        break;
    default:
        return;
    }
    resetProjection();
    glutPostRedisplay();
}
