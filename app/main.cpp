// Program entry: sets up GLUT and the window, registers the callbacks (display, reshape, keys
// and plain motion here; the mouse in createMenu; the menu status in createWindow where
// freeglut's menu needs mending), builds the menu and the scene, and hands control to the
// GLUT main loop.
#include <GL/glut.h>

#include "app/app.h"
#include "draw/draw.h"
#include "input/input.h"
#include "view/view.h"

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    createWindow();

    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    createMenu(); // also registers mouseButton for left-click picking
    glutKeyboardFunc(keyboard);
    glutSpecialFunc(specialKeys);
    // No callback for motion with a button held: such motion is not seen at all.
    glutPassiveMotionFunc(passiveMotion);
    // One more, the menu status, is registered by createWindow's installMenuMend where
    // freeglut's menu needs mending (app/window_system_x11.cpp).

    initScene();
    glutMainLoop();
    return 0;
}
