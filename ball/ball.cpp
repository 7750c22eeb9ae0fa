// The ball step: collision with players whose rods are down, velocity reversal, drawing,
// motion and the wall bounds. Reads rods; reads and writes BallState.
#include "ball/ball.h"

#include <GL/glut.h>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"

// A rod turned between 50 and 320 degrees (inclusive) lifts its players over the ball.
static bool rodIsLifted(const Rod& r) {
    return !(r.angle < ROD_LIFTED_FROM) && !(r.angle > ROD_LIFTED_TO);
}

static bool strictlyBetween(float low, float value, float high) {
    return low < value && value < high;
}

// Reverses the ball's velocity for a hit on the player at (rx, pz), by where the ball was
// before its last step.
static void bounceOffPlayer(float rx, float pz) {
    if (strictlyBetween(pz - PLAYER_HALF_Z, ball.prevZ, pz + PLAYER_HALF_Z)) {
        ball.vx = -ball.vx; // already in the z band: it came in along x
    } else if (strictlyBetween(rx - PLAYER_HALF_X, ball.prevX, rx + PLAYER_HALF_X)) {
        ball.vz = -ball.vz; // already in the x band: it came in along z
    } else {
        ball.vx = -ball.vx; // across a corner
        ball.vz = -ball.vz;
    }
}

// Handles the first player, in rod order then player order, whose box holds the ball's centre.
static void collideWithPlayers() {
    for (const Rod& r : rods) {
        if (rodIsLifted(r)) {
            continue;
        }
        for (int j = 0; j < r.playerCount; j++) {
            const float rx = r.x;
            const float pz = r.playerZ[j];
            if (strictlyBetween(pz - PLAYER_HALF_Z, ball.z, pz + PLAYER_HALF_Z) &&
                strictlyBetween(rx - PLAYER_HALF_X, ball.x, rx + PLAYER_HALF_X)) {
                consoleMessage("Choque!\n");
                bounceOffPlayer(rx, pz);
                return;
            }
        }
    }
}

// Draws the ball where it is, in its material.
void drawBall() {
    glPushMatrix();
    {
        glTranslatef(ball.x, ball.y, ball.z);
        setMaterial(MAT_BALL);
        glutSolidSphere(BALL_RADIUS, ROUND_SLICES, ROUND_SLICES);
    }
    glPopMatrix();
}

// One ball step: collide, draw where the ball was, move, then turn back past the bounds.
void stepBall() {
    collideWithPlayers();
    drawBall();

    ball.prevX = ball.x;
    ball.prevZ = ball.z;
    ball.x += ball.vx;
    ball.z += ball.vz;

    // The position is not clamped: the ball may stand past a bound for one frame.
    if (ball.z < BALL_MIN_Z) {
        ball.vz = -ball.vz;
    }
    if (ball.z > BALL_MAX_Z) {
        ball.vz = -ball.vz;
    }
    if (ball.x < BALL_MIN_X) {
        ball.vx = -ball.vx;
    }
    if (ball.x > BALL_MAX_X) {
        ball.vx = -ball.vx;
    }
}
