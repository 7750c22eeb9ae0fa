// The program's window under the X Window System: its WM_CLASS, and the mend that keeps
// freeglut's pop-up menu choosing the entry under the pointer wherever the window sits.
// The only file that calls Xlib; built only where GLUT runs on X11. createWindow calls
// setWindowClass and installMenuMend once, right after the window exists.
//
// Why the mend: while the menu is open, freeglut finds the entry under a button event on
// the program's window by subtracting the menu's place on the screen from the event's place
// in the window (every release up to 3.8). The two agree only when the window's inside
// starts at the screen's corner; framed by a window manager, or moved, a release chose the
// wrong entry or none.
// How: freeglut takes each event with XNextEvent and handles it before it takes the next,
// so this file defines XNextEvent (a program's own definition comes before Xlib's for every
// library it loads) and mends each event on its way to freeglut, by the menu's state at that
// moment. XInput 2 buttons reach freeglut's handling as core events that freeglut puts back
// on the queue, so both paths pass here. While the menu is open:
// - a release on the window carries the pointer's screen position, which freeglut then reads
//   against the menu correctly: the entry under the pointer runs, or nothing;
// - a press on the window lies outside the menu (X gives a press over the menu to the menu's
//   own window): it is handed on far outside both, which closes the menu and chooses nothing,
//   and a press of the menu's own button is then handed on again as the window saw it, so
//   that freeglut opens the menu anew there, as it does in a window at the screen's corner.
#include "app/app.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

using NextEventFunction = int (*)(Display*, XEvent*);

// The newest freeglut release known to read the window's position against the screen's.
constexpr int LAST_MISREADING_FREEGLUT = 30800;
// A window position freeglut reads as outside the menu and outside the window alike.
constexpr int FAR_OUTSIDE = -30000;

static Window programWindow = 0;         // the window freeglut made current for us
static NextEventFunction nextEvent = 0;  // Xlib's XNextEvent, set once the mend is on
static bool menuInUse = false;           // between freeglut's "in use" and "not in use"
static unsigned int lastPressButton = 0; // X button of the last press handed on closed
static unsigned int menuButton = 0;      // X button whose press opened the menu
static bool reopenPending = false;       // a press put back to open the menu anew
static XButtonEvent reopenPress{};

// Whether event is the press this file put back on the queue.
static bool isReopenPress(const XButtonEvent& event) {
    return reopenPending && event.type == ButtonPress && event.serial == reopenPress.serial &&
           event.time == reopenPress.time && event.button == reopenPress.button &&
           event.x == reopenPress.x && event.y == reopenPress.y;
}

// Mends a button event on the program's window as the file header says.
static void mendButtonEvent(Display* dpy, XButtonEvent& event) {
    if (isReopenPress(event)) {
        reopenPending = false;
    } else if (menuInUse && event.type == ButtonRelease) {
        event.x = event.x_root;
        event.y = event.y_root;
    } else if (menuInUse) {
        if (event.button == menuButton) {
            reopenPress = event;
            reopenPending = true;
            XEvent copy{};
            copy.xbutton = event;
            XPutBackEvent(dpy, &copy);
        }
        event.x = FAR_OUTSIDE;
        event.y = FAR_OUTSIDE;
    }
    if (!menuInUse && event.type == ButtonPress) {
        lastPressButton = event.button;
    }
}

// Xlib's XNextEvent, with the program's button events mended on their way to freeglut.
int XNextEvent(Display* dpy, XEvent* event) {
    if (nextEvent == 0) {
        nextEvent = reinterpret_cast<NextEventFunction>(dlsym(RTLD_NEXT, "XNextEvent"));
    }
    const int result = nextEvent(dpy, event);
    if (programWindow != 0 && (event->type == ButtonPress || event->type == ButtonRelease) &&
        event->xbutton.window == programWindow) {
        mendButtonEvent(dpy, event->xbutton);
    }
    return result;
}

// Follows the pop-up menu opening and closing.
static void followMenuStatus(int status, int, int) {
    menuInUse = status == GLUT_MENU_IN_USE;
    if (menuInUse) {
        menuButton = lastPressButton;
    }
}

// Names the window's class for desktops (launchers, task bars).
void setWindowClass() {
    Display* dpy = glXGetCurrentDisplay();
    const Window window = glXGetCurrentDrawable();
    if (dpy == nullptr || window == 0) {
        return;
    }
    // freeglut maps the window inside glutCreateWindow and sets no class: this is the
    // earliest it can be named.
    char instanceName[] = "orlemaz";
    char className[] = "Orlemaz";
    XClassHint classHint{instanceName, className};
    XSetClassHint(dpy, window, &classHint);
    XFlush(dpy);
}

// Turns the menu mend on for the current window where freeglut misreads the menu.
void installMenuMend() {
    const Window window = glXGetCurrentDrawable();
    const int version = glutGet(GLUT_VERSION);
    if (window != 0 && programWindow == 0 && version > 0 && version <= LAST_MISREADING_FREEGLUT) {
        glutMenuStatusFunc(followMenuStatus);
        programWindow = window;
    }
}
