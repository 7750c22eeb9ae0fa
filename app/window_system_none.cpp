// The program's window where GLUT does not run on X11: the window system needs nothing
// more than GLUT gives it.
#include "app/app.h"

// The window system takes its class from the program's file name.
void setWindowClass() {}

// The GLUT here reads the menu's pointer positions as it should.
void installMenuMend() {}
