// Start-up: the OpenGL capabilities and the rod table, plus the console writer that every
// message of the program goes through.
#include "app/app.h"

#include <GL/glut.h>
#include <cstdarg>
#include <cstdio>

#include "app/scene_state.h"

// Opens the titled window at its start-up position and size, named for the desktop, with
// the menu mend where it is needed.
void createWindow() {
    glutInitWindowPosition(WINDOW_X, WINDOW_Y);
    glutInitWindowSize(WINDOW_WIDTH, WINDOW_HEIGHT);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB);
    glutCreateWindow(WINDOW_TITLE);
    setWindowClass();
    installMenuMend();
}

// Enables lighting, both lights, depth test and culling, and lays out the eight rods.
void initScene() {
    // Everything else (cull face, winding, depth function, light colours, light model)
    // stays at the OpenGL defaults; GL_COLOR_MATERIAL stays off, so glColor has no effect
    // on lit surfaces.
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_AUTO_NORMAL);
    glEnable(GL_NORMALIZE);

    for (int i = 0; i < ROD_COUNT; i++) {
        const RodLayout& layout = ROD_LAYOUT[i];
        Rod& rod = rods[i];
        rod.playerCount = layout.playerCount;
        rod.team = layout.team;
        rod.slideMin = layout.slideMin;
        rod.slideMax = layout.slideMax;
        rod.overhang = layout.overhang;
        rod.length = ROD_LENGTH;
        rod.pickName = i + ROD_NAME_BASE;
        rod.angle = 0.0f;
        rod.slide = 0.0f;
        rod.x = rodX(i);
    }
}

// Formatted output to the console, flushed at once.
void consoleMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
