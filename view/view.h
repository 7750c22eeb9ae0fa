// View: the projection, the camera transform and the light positions.
// Called on reshape and whenever a key, a click or panning changes the view; display
// never calls them and draws into the modelview matrix that setCamera leaves behind.
#pragma once

// GLUT reshape callback: sets the viewport, records the window size, reloads the view.
void reshape(int width, int height);

// Loads the identity projection and then the camera.
void resetProjection();

// Multiplies the frustum onto the current projection matrix (identity or pick matrix),
// then loads the camera and the lights into the modelview matrix.
// NOTE: expects GL_PROJECTION on entry; leaves GL_MODELVIEW current.
void setCamera();
