// The program's window under the X Window System: its WM_CLASS, and the mend that keeps
// freeglut's pop-up menu choosing the entry under the pointer wherever the window sits.
// The only file that calls Xlib; built only where GLUT runs on X11. createWindow calls
// adaptToWindowSystem once, right after the window exists.
//
// Why the mend: while the menu is open, freeglut finds the entry under a button press or
// release on the program's window by subtracting the menu's position on the screen from
// the event's position in the window (freeglut 3.4, unchanged in its current sources).
// The two agree only when the window's inside starts at the screen's corner. Framed by a
// window manager, or moved, a release chose the wrong entry or none, while the highlight,
// drawn from motion's screen positions, showed the right one. So while the menu is open,
// a button event on the program's window is handed on with the pointer's screen position
// as its window position: the entry under the pointer is chosen, and a press or release
// outside the menu chooses nothing. freeglut reads buttons through XInput 2 where the
// server has it, and through the core events elsewhere; both are mended, as Xlib turns
// them from the wire into events.
#include "app/app.h"

#include <GL/glut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>

using CoreToEvent = Bool (*)(Display*, XEvent*, xEvent*);
using CookieToEvent = Bool (*)(Display*, XGenericEventCookie*, xEvent*);

static Window programWindow = 0;     // the window freeglut made current for us
static bool menuInUse = false;       // between freeglut's "in use" and "not in use"
static CoreToEvent pressToEvent = 0; // Xlib's own conversions, which ours wrap
static CoreToEvent releaseToEvent = 0;
static CookieToEvent inputToEvent = 0; // XInput's conversion of its events

// A core button event, converted as Xlib does and then mended.
static Bool coreButtonToEvent(Display* dpy, XEvent* event, xEvent* wire) {
    const CoreToEvent convert =
        (wire->u.u.type & 0x7F) == ButtonPress ? pressToEvent : releaseToEvent;
    const Bool queued = convert(dpy, event, wire);
    if (queued && menuInUse && event->xbutton.window == programWindow) {
        event->xbutton.x = event->xbutton.x_root;
        event->xbutton.y = event->xbutton.y_root;
    }
    return queued;
}

// An XInput 2 event, converted as XInput does; a button event is then mended.
static Bool inputEventToEvent(Display* dpy, XGenericEventCookie* cookie, xEvent* wire) {
    const Bool queued = inputToEvent(dpy, cookie, wire);
    if (queued && menuInUse &&
        (cookie->evtype == XI_ButtonPress || cookie->evtype == XI_ButtonRelease)) {
        XIDeviceEvent* event = static_cast<XIDeviceEvent*>(cookie->data);
        if (event != nullptr && event->event == programWindow) {
            event->event_x = event->root_x;
            event->event_y = event->root_y;
        }
    }
    return queued;
}

// Follows the pop-up menu opening and closing.
static void menuStatus(int status, int, int) {
    menuInUse = status == GLUT_MENU_IN_USE;
}

// Names the window's class for desktops (launchers, task bars) and installs the menu mend.
void adaptToWindowSystem() {
    Display* dpy = glXGetCurrentDisplay();
    programWindow = glXGetCurrentDrawable();
    if (dpy == nullptr || programWindow == 0 || pressToEvent != 0) {
        return;
    }
    // freeglut maps the window inside glutCreateWindow and sets no class: this is the
    // earliest it can be named.
    char instanceName[] = "orlemaz";
    char className[] = "Orlemaz";
    XClassHint classHint{instanceName, className};
    XSetClassHint(dpy, programWindow, &classHint);
    XFlush(dpy);

    glutMenuStatusFunc(menuStatus);
    pressToEvent = XESetWireToEvent(dpy, ButtonPress, coreButtonToEvent);
    releaseToEvent = XESetWireToEvent(dpy, ButtonRelease, coreButtonToEvent);
    // XInput sets up its conversion when freeglut first selects its events, inside
    // glutCreateWindow; without XInput freeglut gets core events only.
    int opcode = 0, firstEvent = 0, firstError = 0;
    if (XQueryExtension(dpy, "XInputExtension", &opcode, &firstEvent, &firstError)) {
        inputToEvent = XESetWireToEventCookie(dpy, opcode, inputEventToEvent);
        if (inputToEvent == nullptr) {
            XESetWireToEventCookie(dpy, opcode, nullptr);
        }
    }
}
