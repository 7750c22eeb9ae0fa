#include "app/scene_state.h"

// Scene state and the model's fixed tables.

TableDims tableDims;
Rod rods[ROD_COUNT];
BallState ball;
ViewState view;
InteractionState interaction;

// Team, players, slide limits and overhang of each rod, from the x = 0 end.
const RodLayout ROD_LAYOUT[ROD_COUNT] = {
    {0, 1, -8.0f, 15.0f, 15.0f},  {0, 2, -19.0f, 24.0f, 25.0f}, {1, 3, -11.0f, 17.0f, 25.0f},
    {0, 4, -4.0f, 10.0f, 15.0f},  {1, 4, -4.0f, 10.0f, 25.0f},  {0, 3, -11.0f, 17.0f, 25.0f},
    {1, 2, -19.0f, 24.0f, 20.0f}, {1, 1, -8.0f, 15.0f, 25.0f},
};

const Material MAT_FLOOR = {{1.0f, 0.98f, 0.93f, 0.0f}};
const Material MAT_TABLE = {{0.6f, 0.5f, 0.18f, 0.0f}};
const Material MAT_PITCH = {{0.8f, 0.81f, 0.82f, 0.0f}};
const Material MAT_SHIRT_TEAM0 = {{1.0f, 1.0f, 1.0f, 0.0f}};
const Material MAT_SHIRT_TEAM1 = {{0.0f, 0.0f, 0.1f, 0.0f}};
const Material MAT_PLAYER = {{0.5f, 0.1f, 1.0f, 0.0f}};
const Material MAT_ROD = {{0.6f, 0.5f, 0.4f, 0.0f}};
const Material MAT_HANDLE = {{0.6f, 0.1f, 0.4f, 0.0f}};
const Material MAT_BALL = {{0.1f, 0.1f, 0.1f, 0.0f}};

const GLfloat LIGHT0_POSITION[4] = {10.0f, 10.0f, 10.0f, 0.0f};
const GLfloat LIGHT1_POSITION[4] = {-10.0f, 10.0f, -10.0f, 0.0f};
