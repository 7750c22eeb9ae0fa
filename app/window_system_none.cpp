// The program's window where GLUT does not run on X11: the window system needs nothing
// more than GLUT gives it.
#include "app/app.h"

// Nothing to adapt.
void adaptToWindowSystem() {}
