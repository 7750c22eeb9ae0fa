// Interaction: turns the user's clicks, keys, menu choices and mouse motion into changes
// of the scene state. Every function here is a GLUT callback or is called by one.
#pragma once

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
