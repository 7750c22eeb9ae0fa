// Camera, projection and lights. Reads TableDims and ViewState; writes only the window
// size in ViewState.
#include "view/view.h"

#include <GL/glut.h>

#include "app/scene_state.h"

// Records the new window size and rebuilds the projection for it.
void reshape(int width, int height) {
    glViewport(0, 0, width, height);
    view.winW = static_cast<float>(width);
    view.winH = static_cast<float>(height);
    resetProjection();
}

// Rebuilds the projection and camera from scratch.
void resetProjection() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    setCamera();
}

// Frustum, camera translation, lights, then the view rotations about the model origin.
void setCamera() {
    // Before the first reshape the window size is unknown; a zero height would make the
    // frustum degenerate, so either zero falls back to a square aspect.
    double aspect = 1.0;
    if (view.winW > 0.0f && view.winH > 0.0f) {
        aspect = view.winH / view.winW;
    }
    glFrustum(-1.0, 1.0, -aspect, aspect, FRUSTUM_NEAR, FRUSTUM_FAR);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // Integer halving of the negated sizes, truncating toward zero. The table's width
    // (its z extent) centres the view along y.
    const float tx = static_cast<float>(-tableDims.tableLength / 2 + view.panX);
    const float ty = static_cast<float>(-tableDims.tableWidth / 2 + view.panY);
    glTranslatef(tx, ty, -view.viewDistance);

    // Given before the rotations, so the lights stay put while the scene turns under them.
    glLightfv(GL_LIGHT0, GL_POSITION, LIGHT0_POSITION);
    glLightfv(GL_LIGHT1, GL_POSITION, LIGHT1_POSITION);

    glRotatef(view.tiltX, 1.0f, 0.0f, 0.0f);
    glRotatef(view.rotY, 0.0f, 1.0f, 0.0f);
    glRotatef(view.rotZ, 0.0f, 0.0f, 1.0f);
}
