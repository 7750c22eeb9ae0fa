// The program's camera as arithmetic, for turning model points into window pixels, and
// what a picture of the table shows: the colours of its parts, where a player stands, and
// whether the table has been drawn at all.
#pragma once

#include "harness/window_image.h"
#include "harness/x_server.h"

// The view the program's camera is built from; the defaults are the start-up view.
struct CameraModel {
    double viewDistance = 400.0; // model units the scene is pushed along -z
    double tiltX = 16.0;         // degrees about x
    double rotY = 0.0;           // degrees about y
    double rotZ = 0.0;           // degrees about z
    int panX = 0;                // model units
    int panY = 0;                // model units
    int width = 680;             // the window's inside, pixels
    int height = 480;
};

// The pixel a model point lands on in the window: frustum +-1 by +-height/width at near 5, the
// scene moved by (-50 + panX, -35 + panY, -viewDistance) and turned about x, then y, then z.
WindowPoint windowPointOf(const CameraModel& camera, double x, double y, double z);

// What the picture shows. The lights (white light 0 and the 0.2 global ambient, no
// specular) keep a material's hue: the white shirts stay grey, the dark blue shirts have
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
bool showsPlayer(const WindowImage& picture, const CameraModel& camera, int team, double rodX,
                 double playerZ);
