/* Preloaded into the program by the core-events runs of the end-to-end tests: selecting
 * XInput 2 events does nothing, so freeglut reads the pointer's buttons and motion through
 * the core X events, as on a server without the extension. */
#include <X11/extensions/XInput2.h>

int XISelectEvents(Display* dpy, Window window, XIEventMask* masks, int count) {
    (void)dpy;
    (void)window;
    (void)masks;
    (void)count;
    return 0;
}
