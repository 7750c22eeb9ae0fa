// Interaction: turns the user's clicks, keys, menu choices and mouse motion into changes
// of the scene state. Every function here is a GLUT callback or is called by one.
#pragma once

#include "app/scene_state.h"

// The pop-up menu's entries, top to bottom, by the value menuSelect receives.
enum MenuEntry {
    MENU_MOVE_MODEL = 0,
    MENU_MOVE_RODS = 1,
    MENU_TOGGLE_BALL = 2,
    MENU_QUIT = 3,
    MENU_ENTRY_COUNT = 4,
};
// Each entry, indexed by its value: what the menu shows, and the name orlemaz-drive and the
// browser check choose it by.
struct MenuItem {
    const char* label;
    const char* name;
};
constexpr MenuItem MENU_ITEMS[MENU_ENTRY_COUNT] = {
    {"MOVER MODELO", "move-model"},
    {"MOVER BARRAS", "move-rods"},
    {"PONER/QUITAR BOLA", "toggle-ball"},
    {"Salir", "quit"},
};

constexpr unsigned char KEY_ESCAPE = 27;

// A key that moves the camera: each press adds step to one view value, and the opposite key
// takes it back.
struct CameraKey {
    int key;                 // the character typed, or a GLUT_KEY_ code when special
    int opposite;            // the key that undoes it, of the same kind
    bool special;            // read by specialKeys rather than keyboard
    float ViewState::*field; // the view value it steps
    double step;             // degrees or model units per press
};
constexpr int CAMERA_KEY_COUNT = 8;
constexpr CameraKey CAMERA_KEYS[CAMERA_KEY_COUNT] = {
    {GLUT_KEY_LEFT, GLUT_KEY_RIGHT, true, &ViewState::rotY, VIEW_STEP},
    {GLUT_KEY_RIGHT, GLUT_KEY_LEFT, true, &ViewState::rotY, -VIEW_STEP},
    {GLUT_KEY_UP, GLUT_KEY_DOWN, true, &ViewState::tiltX, VIEW_STEP},
    {GLUT_KEY_DOWN, GLUT_KEY_UP, true, &ViewState::tiltX, -VIEW_STEP},
    {'z', 'Z', false, &ViewState::rotZ, VIEW_STEP},
    {'Z', 'z', false, &ViewState::rotZ, -VIEW_STEP},
    {'+', '-', false, &ViewState::viewDistance, -VIEW_STEP},
    {'-', '+', false, &ViewState::viewDistance, VIEW_STEP},
};

// What h and H print, one console message a line.
constexpr int HELP_LINE_COUNT = 4;
constexpr const char* HELP_LINES[HELP_LINE_COUNT] = {"\n PROYECTO CAD", "\n ORLEMAZ",
                                                     "\n Escape: Salir", "\n\n\n"};

// GLUT mouse callback (registered by createMenu): a left press picks; every event then
// reloads the view and asks for a redisplay.
void mouseButton(int button, int state, int x, int y);

// Identifies what lies under window point (x, y) (origin top left) with a selection pass,
// and binds the clicked rod to the mouse or releases a bound one.
// NOTE: returns with GL_PROJECTION current; mouseButton's resetProjection restores it.
void pickObject(int x, int y);

// Runs the frame in selection mode over the pick region around window point (x, y) (origin
// top left), under the names display loads, into buffer (PICK_BUFFER_SIZE words); returns
// the number of hit records, or -1 when they overflowed it.
// NOTE: returns with GL_PROJECTION current.
int runSelectionPass(int x, int y, unsigned int* buffer);

// Builds the right-button pop-up menu and registers mouseButton.
void createMenu();

// GLUT menu callback: switches the interaction mode, toggles the ball, or quits.
void menuSelect(int value);

// GLUT keyboard callback: zoom, roll, help banner and Escape.
void keyboard(unsigned char key, int x, int y);

// GLUT special-key callback: the arrow keys turn and tilt the view.
void specialKeys(int key, int x, int y);

// GLUT passive motion callback: turns and slides the bound rod, or pans the view.
void passiveMotion(int x, int y);
