// Scene state: the records every part of the program reads and writes, their load-time
// values and the fixed numbers of the model (dimensions, limits, speeds, colours).
// The records are module-level, live for the whole process and are touched only on the
// GLUT thread. Nothing here is ever allocated, freed, saved or loaded.
#pragma once

// GLUT's header brings in OpenGL's, after windows.h where the platform's GL/gl.h needs it.
#include <GL/glut.h>

// ---------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------

constexpr int ROD_COUNT = 8;
constexpr int MAX_PLAYERS_PER_ROD = 5;

// Table dimensions. Set at load; nothing writes them afterwards.
// The integer fields are combined as integers first and converted at the call that uses them.
struct TableDims {
    int tableLength = 100;       // model units, extent along x
    int tableWidth = 70;         // model units, extent along z
    int legHeight = 20;          // model units; walls stand on it, the pitch lies 1 above it
    float playerSpacing = 15.0f; // model units between neighbouring players of a rod
    float wallThickness = 5.0f;  // model units
    float wallHeight = 12.0f;    // model units
};

// One playing rod. Filled by initScene; angle and slide written by passiveMotion,
// playerZ by drawRod on every frame.
struct Rod {
    int team = 0;                            // 0 or 1: shirt colour, facing, handle side
    int pickName = 0;                        // selection name (rod index + 2)
    float slideMax = 0.0f;                   // model units, exclusive upper limit of slide
    float slideMin = 0.0f;                   // model units, exclusive lower limit of slide
    float angle = 0.0f;                      // degrees about the rod's axis; 0 hangs down
    float slide = 0.0f;                      // model units along +z from rest
    int playerCount = 0;                     // players on the rod (1 to 4 used)
    float playerZ[MAX_PLAYERS_PER_ROD] = {}; // model units, z of each player's centre
    float x = 0.0f;                          // model units, position along the table
    float overhang = 0.0f;                   // model units the bar starts before z = 0
    float length = 0.0f;                     // model units, length of the bar
};

// The ball. ballOn is toggled by the menu; the rest is written by the ball step only.
// Taking the ball off keeps its position and velocity.
struct BallState {
    int ballOn = 0;      // non-zero while the ball is in play
    float x = 20.0f;     // model units, centre
    float y = 23.0f;     // model units, centre; never changes
    float z = 20.0f;     // model units, centre
    float prevX = 20.0f; // model units, x before the most recent step
    float prevZ = 20.0f; // model units, z before the most recent step
    float vx = 1.5f;     // model units per step
    float vz = 1.5f;     // model units per step
};

// The camera. Window size written by reshape, distance and rotations by the keys,
// pan by mouse motion in the move-model mode.
struct ViewState {
    float viewDistance = 400.0f; // model units the scene is pushed along -z
    float tiltX = 16.0f;         // degrees about x
    float rotY = 0.0f;           // degrees about y
    float rotZ = 0.0f;           // degrees about z
    int panX = 0;                // model units along x
    int panY = 0;                // model units along y
    float winW = 0.0f;           // pixels, 0 until the first reshape
    float winH = 0.0f;           // pixels, 0 until the first reshape
};

// What plain mouse motion does.
enum InteractionMode {
    MODE_NONE = 0,       // nothing but tracking the pointer
    MODE_MOVE_WORLD = 1, // pans the view
    MODE_ROD = 2,        // turns and slides rod selectedId - 2
};

// Interaction state. mode written by the menu and by picking, selectedId by picking,
// the stored pointer by every passive motion event.
struct InteractionState {
    int mode = MODE_NONE;     // an InteractionMode
    int selectedId = -1;      // name read by the last pick; 2 to 9 while mode is MODE_ROD
    float lastMouseX = -1.0f; // pixels; -1 until the first motion event
    float lastMouseY = -1.0f; // pixels; -1 until the first motion event
};

extern TableDims tableDims;
extern Rod rods[ROD_COUNT];
extern BallState ball;
extern ViewState view;
extern InteractionState interaction;

// The start-up layout of one rod, written into rods by initScene.
struct RodLayout {
    int team;
    int playerCount;
    float slideMin; // model units
    float slideMax; // model units
    float overhang; // model units; deliberately not symmetric between the two halves
};
extern const RodLayout ROD_LAYOUT[ROD_COUNT];

constexpr float ROD_LENGTH = 110.0f; // model units, every bar
constexpr int ROD_SPACING = 11;      // model units between rods; rod i stands at 11 i + 12
constexpr int FIRST_ROD_X = 12;      // model units

// ---------------------------------------------------------------------------------------
// Materials and lights
// ---------------------------------------------------------------------------------------

// An ambient-and-diffuse colour for front faces: red, green, blue, alpha.
struct Material {
    GLfloat rgba[4];
};

extern const Material MAT_FLOOR;       // floor and axis lines
extern const Material MAT_TABLE;       // legs and walls
extern const Material MAT_PITCH;       // playing surface
extern const Material MAT_SHIRT_TEAM0; // bodies of team 0 players
extern const Material MAT_SHIRT_TEAM1; // bodies of team 1 players
extern const Material MAT_PLAYER;      // heads, necks and feet
extern const Material MAT_ROD;         // rod bars
extern const Material MAT_HANDLE;      // knobs and handles
extern const Material MAT_BALL;        // ball

// Both lights are directional (w = 0) and given in eye space right after the camera
// translation, so they stay fixed relative to the viewer.
extern const GLfloat LIGHT0_POSITION[4];
extern const GLfloat LIGHT1_POSITION[4];

// ---------------------------------------------------------------------------------------
// Selection names
// ---------------------------------------------------------------------------------------

constexpr int NAME_NONE = -1;    // bottom of the name stack (0xFFFFFFFF); floor and axes
constexpr int NAME_TABLE = 1;    // legs, walls and pitch
constexpr int ROD_NAME_BASE = 2; // rod i is drawn under i + 2

// ---------------------------------------------------------------------------------------
// Window and camera
// ---------------------------------------------------------------------------------------

constexpr const char* WINDOW_TITLE = "KORVANTE : ORLEMAZ";
constexpr int WINDOW_X = 0;        // pixels from the screen's left, where the window opens
constexpr int WINDOW_Y = 0;        // pixels from the screen's top
constexpr int WINDOW_WIDTH = 680;  // pixels
constexpr int WINDOW_HEIGHT = 480; // pixels
constexpr double FRUSTUM_NEAR = 5.0;
constexpr double FRUSTUM_FAR = 1000.0;
constexpr double VIEW_STEP = 5.0;      // degrees or model units per key press
constexpr float PAN_DIVISOR_X = 10.0f; // pixels of horizontal motion per unit of pan
constexpr float PAN_DIVISOR_Y = 4.0f;  // pixels of vertical motion per unit of pan
// The pan is summed in float and kept in an int. Floats hold every integer up to 2^24,
// far beyond any pan that still shows the table, so the pan stops there either way.
constexpr float PAN_LIMIT = 16777216.0f; // model units

// ---------------------------------------------------------------------------------------
// Geometry of the model
// ---------------------------------------------------------------------------------------

constexpr double TWO_PI_APPROX = 6.28318; // a full turn, radians
constexpr int ROUND_SLICES = 20;          // slices of every tube, disc and sphere

constexpr float AXIS_LENGTH = 30.0f;      // model units
constexpr float FLOOR_HALF_SIZE = 500.0f; // model units
constexpr int LEG_SIZE = 5;               // model units, square section
constexpr int LEG_INSET = 5;              // model units from the table's edge
constexpr int PITCH_ABOVE_LEGS = 1;       // model units
constexpr int ROD_AXIS_ABOVE_LEGS = 10;   // model units

constexpr double BAR_RADIUS = 0.5;     // model units
constexpr double KNOB_RADIUS = 2.0;    // model units
constexpr double HANDLE_LENGTH = 10.0; // model units
constexpr double HANDLE_RADIUS = 1.0;  // model units

// The player figure, hanging from the rod axis along -y.
constexpr float HEAD_ABOVE_AXIS = 3.0f; // model units, head centre
constexpr double HEAD_RADIUS = 1.0;     // model units
constexpr float NECK_BELOW_HEAD = 2.2f; // model units from head centre to neck base
constexpr double NECK_LENGTH = 1.5;     // model units
constexpr double NECK_RADIUS = 0.5;     // model units
constexpr float BODY_BELOW_NECK = 2.8f; // model units from neck base to body centre
constexpr double BODY_RADIUS = 1.5;     // model units before the vertical stretch
constexpr float BODY_STRETCH_Y = 2.0f;  // the body is an ellipsoid twice as tall as wide
constexpr float FOOT_SIZE_X = 3.0f;     // model units
constexpr float FOOT_SIZE_Y = 1.0f;     // model units
constexpr float FOOT_SIZE_Z = 2.0f;     // model units
constexpr float FOOT_BELOW_BODY = 3.0f; // model units from body centre to foot's top

// Facts derived from the numbers above, worked out here once for the drawing code, the ball
// and everything that checks them.

// Height of the pitch: 1 above the legs' top. Model units.
inline float pitchY() {
    return static_cast<float>(tableDims.legHeight + PITCH_ABOVE_LEGS);
}

// Height of every rod's axis: 10 above the legs' top. Model units.
inline float rodAxisY() {
    return static_cast<float>(tableDims.legHeight + ROD_AXIS_ABOVE_LEGS);
}

// Where rod index stands along the table: 11 index + 12. Model units.
constexpr float rodX(int index) {
    return static_cast<float>(ROD_SPACING * index + FIRST_ROD_X);
}

// z of the first player's centre on a rod of playerCount players at slide 0: the players are
// centred between the z = 0 wall's inner face and the far edge (32.5, not 35). Model units.
inline float firstPlayerZ(int playerCount) {
    return (static_cast<float>(tableDims.tableWidth) - tableDims.wallThickness) / 2.0f -
           static_cast<float>(playerCount - 1) * tableDims.playerSpacing / 2.0f;
}

// ---------------------------------------------------------------------------------------
// Ball
// ---------------------------------------------------------------------------------------

constexpr double BALL_RADIUS = 1.5; // model units (drawing only)
constexpr float BALL_MIN_X = 8.0f;  // model units; the ball turns back past these bounds
constexpr float BALL_MAX_X = 92.0f;
constexpr float BALL_MIN_Z = 8.0f;
constexpr float BALL_MAX_Z = 63.0f;
constexpr float PLAYER_HALF_X = 2.0f; // model units, half extent of a player's hit box
constexpr float PLAYER_HALF_Z = 3.0f;
constexpr float ROD_LIFTED_FROM = 50.0f; // degrees; angles 50 to 320 lift the players
constexpr float ROD_LIFTED_TO = 320.0f;  // clear of the ball

// ---------------------------------------------------------------------------------------
// Picking
// ---------------------------------------------------------------------------------------

constexpr int PICK_BUFFER_SIZE = 512; // words
constexpr double PICK_REGION = 5.0;   // pixels, each side
constexpr int PICK_NAME_WORD = 11;    // the name of the third hit record
