// Scene drawing: the geometry primitives, the frame (display), the table, the rods and
// the players. Every frame is drawn from display, the ball too (stepBall, ball/ball.h);
// picking calls display as well, so it loads the selection names as it goes.
#pragma once

#include <initializer_list>

#include "app/scene_state.h"

// A vector of three doubles, used only by the tube construction.
struct Vec3d {
    double x;
    double y;
    double z;
};

// Scales v to unit length; the zero vector stays zero.
void normalize(Vec3d* v);

// out = u x v.
void crossProduct(Vec3d u, Vec3d v, Vec3d* out);

// Draws an open tube (no caps) from the local origin to p1, swept from theta1 to theta2
// radians (0, 0 means a full turn).
// NOTE: every vertex keeps the y of its end point (0 or p1y); only the normal leans.
void drawTube(double p1x, double p1y, double p1z, double radiusAtOrigin, double radiusAtEnd,
              int slices, double theta1, double theta2);

// Draws a flat disc in the y = 0 plane facing +y (facing = 1) or -y (facing = -1).
void drawDisc(double radius, int segments, int facing);

// Draws the box from (0, 0, 0) to (sx, sy, sz), every face wound outwards.
void drawBox(float sx, float sy, float sz);

// Draws a rectangle in the y = 0 plane, visible from +y.
void drawFlatQuad(float x1, float z1, float x2, float z2);

// Draws three lines of length len along +x, +y and +z. Sets no normal.
void drawAxes(float len);

// The primitives a selection pass draws from display lists (draw/selection_lists.cpp); the
// box's strip and its caps get a list each, since a list that mixes primitive types still
// leaks a few bytes a call.
enum SelectionPrimitive {
    PRIMITIVE_TUBE,
    PRIMITIVE_DISC,
    PRIMITIVE_BOX_SIDES,
    PRIMITIVE_BOX_ENDS,
    PRIMITIVE_QUAD,
    PRIMITIVE_AXES,
};

// Marks a selection pass: pickObject turns it on around its frame and off after it.
void setSelectionPass(bool on);

// In a selection pass, replays the list of kind drawn with args and returns true; on its
// first use opens a list and returns false. Outside one, returns false.
// NOTE: after a false, the caller draws its calls and then calls endSelectionList.
bool replaySelectionList(SelectionPrimitive kind, std::initializer_list<double> args);
void endSelectionList();

// How many primitives selection passes have had to draw in immediate mode because the
// table of lists was full: 0 unless the frame outgrows it (and the renderer leaks again).
int selectionListMisses();

// Makes m the ambient-and-diffuse colour of front faces.
void setMaterial(const Material& m);

// GLUT display callback: draws one whole frame, steps the ball, swaps and asks for the next.
void display();

// Draws the floor, the axes, the table and the rods under their selection names: the frame
// without the clear, the ball and the swap.
void drawScene();

// Draws the legs, the walls and the playing surface.
void drawTable();

// Draws rod index (bar, knob, handle and players) and records its players' z in playerZ.
void drawRod(int index);

// Draws one player figure of the given team hanging from the local origin along -y.
void drawPlayer(int team);
