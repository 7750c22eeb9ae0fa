// Rods and players: drawRod draws a rod's bar, knob, handle and players, and records
// where the players stand (playerZ), which is what the ball collides against.
#include "draw/draw.h"

#include <GL/glut.h>

#include "app/scene_state.h"

// Bar with its knob and handle, turned about and slid along the rod's axis.
static void drawBarKnobAndHandle(const Rod& r) {
    glPushMatrix();
    {
        glTranslatef(r.x, rodAxisY(), 0.0f);
        glTranslatef(0.0f, 0.0f, -r.overhang);
        glRotatef(90.0f, 1.0f, 0.0f, 0.0f); // local +y is now the rod's axis, along world +z
        setMaterial(MAT_ROD);
        glRotatef(r.angle, 0.0f, 1.0f, 0.0f);
        glTranslatef(0.0f, r.slide, 0.0f);
        drawTube(0.0, r.length, 0.0, BAR_RADIUS, BAR_RADIUS, ROUND_SLICES, 0.0, 0.0);

        setMaterial(MAT_HANDLE);
        if (r.team == 0) {
            // Knob at the bar's start (z = 0 side), handle beyond the far end.
            glutSolidSphere(KNOB_RADIUS, ROUND_SLICES, ROUND_SLICES);
            glTranslatef(0.0f, r.length, 0.0f);
            drawTube(0.0, HANDLE_LENGTH, 0.0, HANDLE_RADIUS, HANDLE_RADIUS, ROUND_SLICES, 0.0, 0.0);
            drawDisc(HANDLE_RADIUS, ROUND_SLICES, -1);
            glTranslatef(0.0f, static_cast<float>(HANDLE_LENGTH), 0.0f);
            drawDisc(HANDLE_RADIUS, ROUND_SLICES, 1);
        } else {
            // Knob at the far end, handle before the bar's start.
            glTranslatef(0.0f, r.length, 0.0f);
            glutSolidSphere(KNOB_RADIUS, ROUND_SLICES, ROUND_SLICES);
            glTranslatef(0.0f, -(r.length + static_cast<float>(HANDLE_LENGTH)), 0.0f);
            drawDisc(HANDLE_RADIUS, ROUND_SLICES, -1);
            drawTube(0.0, HANDLE_LENGTH, 0.0, HANDLE_RADIUS, HANDLE_RADIUS, ROUND_SLICES, 0.0, 0.0);
            glTranslatef(0.0f, static_cast<float>(HANDLE_LENGTH), 0.0f);
            drawDisc(HANDLE_RADIUS, ROUND_SLICES, 1);
        }
    }
    glPopMatrix();
}

// Players of the rod, spaced along it and centred across the table; records playerZ.
static void drawPlayersOfRod(Rod& r) {
    const TableDims& t = tableDims;
    const float z0 = firstPlayerZ(r.playerCount);
    glPushMatrix();
    {
        glTranslatef(r.x, rodAxisY(), z0);
        glRotatef(r.angle, 0.0f, 0.0f, 1.0f); // positive angles swing the feet towards +x
        glTranslatef(0.0f, 0.0f, r.slide);
        // The turn does not move the players' centres, so playerZ ignores the angle.
        r.playerZ[0] = z0 + r.slide;
        drawPlayer(r.team);
        for (int j = 1; j < r.playerCount; j++) {
            glTranslatef(0.0f, 0.0f, t.playerSpacing);
            drawPlayer(r.team);
            r.playerZ[j] = t.playerSpacing + r.playerZ[j - 1];
        }
    }
    glPopMatrix();
}

// Draws rod index and its players, and records the players' z.
void drawRod(int index) {
    Rod& r = rods[index];
    drawBarKnobAndHandle(r);
    drawPlayersOfRod(r);
}

// One figure: head, neck, shirt-coloured body and a foot, from y = 4 down to y = -5.
void drawPlayer(int team) {
    glPushMatrix();
    {
        // A quarter turn puts the foot's long side along the rod; the teams face apart.
        glRotatef(team == 1 ? 90.0f : -90.0f, 0.0f, 1.0f, 0.0f);
        setMaterial(MAT_PLAYER);
        glTranslatef(0.0f, HEAD_ABOVE_AXIS, 0.0f);
        glutSolidSphere(HEAD_RADIUS, ROUND_SLICES, ROUND_SLICES);
        glTranslatef(0.0f, -NECK_BELOW_HEAD, 0.0f);
        drawTube(0.0, NECK_LENGTH, 0.0, NECK_RADIUS, NECK_RADIUS, ROUND_SLICES, 0.0, 0.0);
        glTranslatef(0.0f, -BODY_BELOW_NECK, 0.0f);

        setMaterial(team == 1 ? MAT_SHIRT_TEAM1 : MAT_SHIRT_TEAM0);
        glPushMatrix();
        {
            glScalef(1.0f, BODY_STRETCH_Y, 1.0f);
            glutSolidSphere(BODY_RADIUS, ROUND_SLICES, ROUND_SLICES);
        }
        glPopMatrix();

        setMaterial(MAT_PLAYER);
        glTranslatef(-FOOT_SIZE_X / 2.0f, -FOOT_BELOW_BODY, -FOOT_SIZE_Z / 2.0f);
        drawBox(FOOT_SIZE_X, FOOT_SIZE_Y, FOOT_SIZE_Z);
    }
    glPopMatrix();
}
