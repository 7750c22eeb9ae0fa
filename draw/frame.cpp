// The frame: display draws the floor, the axes, the table and the rods under their
// selection names, steps the ball, swaps and asks for the next frame at once. It is also
// the scene pass of picking, so it never touches the projection or the camera.
#include "draw/draw.h"

#include <GL/glut.h>

#include "app/scene_state.h"
#include "ball/ball.h"

// Makes m the ambient-and-diffuse colour of front faces.
void setMaterial(const Material& m) {
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, m.rgba);
}

// Draws one whole frame into the modelview matrix that setCamera left behind.
void display() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    drawScene();

    // The ball has no name of its own: it is picked as the last rod.
    if (ball.ballOn != 0) {
        stepBall();
    }

    glFlush();
    glutSwapBuffers();
    glutPostRedisplay();
}

// Draws the floor, the axes, the table and the rods, each under its selection name.
void drawScene() {
    // Floor and axes stay under the bottom name that picking pushes (NAME_NONE).
    // The glColor calls here and below have no effect under lighting.
    setMaterial(MAT_FLOOR);
    glShadeModel(GL_SMOOTH);
    drawAxes(AXIS_LENGTH);
    glColor3f(1.0f, 0.0f, 1.0f);
    drawFlatQuad(-FLOOR_HALF_SIZE, -FLOOR_HALF_SIZE, FLOOR_HALF_SIZE, FLOOR_HALF_SIZE);

    setMaterial(MAT_TABLE);
    glColor3f(1.0f, 0.0f, 0.0f);
    glLoadName(NAME_TABLE);
    drawTable();

    for (int i = 0; i < ROD_COUNT; i++) {
        glLoadName(i + ROD_NAME_BASE);
        drawRod(i);
    }
}

// Four legs, four walls and the playing surface, in the current material for legs and walls.
void drawTable() {
    const TableDims& t = tableDims;
    const int farX = t.tableLength - (LEG_INSET + LEG_SIZE);
    const int farZ = t.tableWidth - (LEG_INSET + LEG_SIZE);
    const int legCorners[4][2] = {
        {LEG_INSET, LEG_INSET}, {farX, LEG_INSET}, {LEG_INSET, farZ}, {farX, farZ}};
    for (const auto& corner : legCorners) {
        glPushMatrix();
        {
            glTranslatef(static_cast<float>(corner[0]), 0.0f, static_cast<float>(corner[1]));
            drawBox(LEG_SIZE, static_cast<float>(t.legHeight), LEG_SIZE);
        }
        glPopMatrix();
    }

    // Side walls run along x, end walls along z; they overlap at the corners.
    glPushMatrix();
    {
        glTranslatef(0.0f, static_cast<float>(t.legHeight), 0.0f);
        drawBox(static_cast<float>(t.tableLength), t.wallHeight, t.wallThickness);
        glTranslatef(0.0f, 0.0f, t.tableWidth - t.wallThickness);
        drawBox(static_cast<float>(t.tableLength), t.wallHeight, t.wallThickness);
    }
    glPopMatrix();
    glPushMatrix();
    {
        glTranslatef(0.0f, static_cast<float>(t.legHeight), 0.0f);
        drawBox(t.wallThickness, t.wallHeight, static_cast<float>(t.tableWidth));
        glTranslatef(t.tableLength - t.wallThickness, 0.0f, 0.0f);
        drawBox(t.wallThickness, t.wallHeight, static_cast<float>(t.tableWidth));
    }
    glPopMatrix();

    // One upward-facing rectangle over the whole table, walls included; there is no slab.
    // The pitch material stays current after this.
    glPushMatrix();
    {
        glColor3f(1.0f, 1.0f, 1.0f);
        setMaterial(MAT_PITCH);
        glTranslatef(0.0f, pitchY(), 0.0f);
        drawFlatQuad(0.0f, 0.0f, static_cast<float>(t.tableLength),
                     static_cast<float>(t.tableWidth));
    }
    glPopMatrix();
}
