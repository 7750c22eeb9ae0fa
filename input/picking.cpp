// Picking: a left press runs the ordinary frame in selection mode over a 5 x 5 pixel
// region around the pointer and reads the rod's name from the hit records.
#include "input/input.h"

#include <GL/glut.h>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "view/view.h"

// Picks on a left press; every button event reloads the view.
void mouseButton(int button, int state, int x, int y) {
    if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN) {
        pickObject(x, y);
    }
    resetProjection();
    glutPostRedisplay();
}

// Binds a clicked rod unless one is bound already; anything else releases.
static void applyPick(int name) {
    const bool isRod = name > NAME_TABLE && name < ROD_NAME_BASE + ROD_COUNT;
    interaction.mode = (isRod && interaction.mode != MODE_ROD) ? MODE_ROD : MODE_NONE;
}

// With fewer than three records the name word holds no hit data; filling the buffer with
// the bottom name first makes such a read come back as NAME_NONE, which binds nothing.
int runSelectionPass(int x, int y, unsigned int* buffer) {
    for (int i = 0; i < PICK_BUFFER_SIZE; i++) {
        buffer[i] = static_cast<GLuint>(NAME_NONE);
    }
    glSelectBuffer(PICK_BUFFER_SIZE, buffer);
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(static_cast<GLuint>(NAME_NONE));

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    {
        glLoadIdentity();
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        gluPickMatrix(x, viewport[3] - y, PICK_REGION, PICK_REGION, viewport);
        setCamera();
        setSelectionPass(true);
        display(); // the whole frame, ball step and swap included, loads the names
        setSelectionPass(false);
        glMatrixMode(GL_PROJECTION);
    }
    glPopMatrix();
    return glRenderMode(GL_RENDER);
}

// Runs the selection pass at (x, y) and updates the binding from its hit records.
void pickObject(int x, int y) {
    static GLuint buffer[PICK_BUFFER_SIZE];
    const GLint hits = runSelectionPass(x, y, buffer);

    if (hits == 0) {
        return;
    }
    if (hits == 1) {
        consoleMessage(" Escenario \n");
    }
    // Every record is four words (one name, two depths, the name), drawn in the order
    // floor, table, rod: word 11 is the name of the third record, the rod over the table.
    interaction.selectedId = static_cast<int>(buffer[PICK_NAME_WORD]);
    consoleMessage(" Id: %d \n", interaction.selectedId);
    applyPick(interaction.selectedId);
}
