// What a picture of the table shows, read by colour: the colour a lit surface takes, the
// probe that compares a pixel with the colour expected there, the colours of the table's
// parts, where a player stands and whether the table has been drawn at all.
#pragma once

#include <string>

#include "app/scene_state.h"
#include "harness/camera_model.h"
#include "harness/window_image.h"

// The colour material m takes, lit as the program lights it, on a surface whose model-space
// normal is (nx, ny, nz), seen from view: OpenGL's global ambient of 0.2 plus the diffuse
// share of light 0 (white, directional, fixed to the viewer); light 1 is black.
Pixel litColour(const Material& m, double nx, double ny, double nz,
                const ViewState& view = startView());

// The pixel probe: "" when observed lies within tolerance of expected in every channel,
// otherwise one message that gives all three.
std::string probeColour(Pixel observed, Pixel expected, int tolerance = 3);

// The lights keep a material's hue: the white shirts stay grey, the dark blue shirts have
// no red or green, the players' heads stay purple, and the dark grey ball is the only grey
// darker than the ambient share of white.
bool isTeam0Shirt(Pixel p);
bool isTeam1Shirt(Pixel p);
bool isPlayerPurple(Pixel p);
bool isBall(Pixel p);
// Whether the picture shows the table: team 0's white shirts are on it.
bool showsTable(const WindowImage& picture);

// Whether the player at (rodX, playerZ) on a rod hanging about straight down is where
// the camera puts it: its shirt in the team's colour on the front of its body, its head
// there and not just above. A misplacement of a few units along the rod shows.
bool showsPlayer(const WindowImage& picture, const ViewState& camera, int team, double rodX,
                 double playerZ);
