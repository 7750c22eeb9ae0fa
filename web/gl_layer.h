// The web layer's own header: the one state record every GL call reads and writes
// (web/gl_state.cpp), the vertex pipeline that turns glBegin/glEnd into triangles and lines
// (web/gl_pipeline.cpp), GLUT's sphere meshes (web/glut_sphere.cpp), and the two sinks the
// geometry goes to: the screen (web/webgl_backend.cpp) or the hit records
// (web/selection.cpp). glRenderMode picks the sink; no drawing call asks which it is.
#pragma once

#include <GL/gl.h>

#include <vector>

// ---------------------------------------------------------------------------------------
// Matrices (web/gl_state.cpp)
// ---------------------------------------------------------------------------------------

struct Matrix {
    float m[16]; // column-major, as OpenGL keeps it
};

constexpr Matrix IDENTITY = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

// a * b, in single precision as OpenGL's matrix calls compute it.
Matrix multiply(const Matrix& a, const Matrix& b);
// out = m * (x, y, z, w).
void transformPoint(const Matrix& m, const float in[4], float out[4]);
// The inverse transpose of m's upper 3 x 3, which carries normals into eye space, row by row.
void normalMatrix(const Matrix& m, float out[9]);

// ---------------------------------------------------------------------------------------
// The state record (web/gl_state.cpp)
// ---------------------------------------------------------------------------------------

constexpr int LIGHT_COUNT = 8;

struct Light {
    bool enabled;
    float ambient[4];  // OpenGL's default: black
    float diffuse[4];  // OpenGL's default: white for light 0, black for the others
    float position[4]; // eye coordinates, as transformed when glLightfv was called
};

// One vertex as glVertex saw it, with the normal and colour current then.
struct ObjectVertex {
    float position[3]; // object coordinates
    float normal[3];
    float colour[4];
};

// A vertex after the modelview and projection matrices, before the division by w.
struct ClipVertex {
    float x, y, z, w;
};

// An axis-aligned box in object coordinates that holds some geometry.
struct Bounds {
    float min[3];
    float max[3];
};

struct SphereMesh;

// Where drawn geometry goes: the screen (web/webgl_backend.cpp) or the hit records
// (web/selection.cpp). glRenderMode sets GlState::sink; the calls below are its only users.
struct GeometrySink {
    // One glBegin/glEnd primitive, its vertices in object coordinates, under the current state.
    void (*primitive)(GLenum mode, const std::vector<ObjectVertex>& vertices);
    // One of GLUT's solid spheres about the origin, under the current state.
    void (*sphere)(const SphereMesh& mesh);
    // False when geometry inside bounds cannot change what the sink produces, so that the
    // caller may skip it (the screen always answers true).
    bool (*mayReach)(const Bounds& bounds);
    // glClear's mask.
    void (*clear)(GLbitfield mask);
    // Draws whatever waits, before the state it was given under changes.
    void (*flush)();
};
extern const GeometrySink WEBGL_SINK;
extern const GeometrySink SELECTION_SINK;

// Everything the layer's GL calls read and write; lives as long as the page.
struct GlState {
    std::vector<Matrix> modelview{IDENTITY};
    std::vector<Matrix> projection{IDENTITY};
    GLenum matrixMode = GL_MODELVIEW;
    GLint viewport[4] = {0, 0, 0, 0}; // x, y, width, height in pixels
    bool cullFace = false;            // back faces (counter-clockwise is front) are dropped
    bool depthTest = false;
    bool lighting = false;
    bool normalize = false;
    Light lights[LIGHT_COUNT] = {};
    float lightModelAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float materialAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float materialDiffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float clearColour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float normal[3] = {0.0f, 0.0f, 1.0f};
    float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    // Counts the changes to what a draw reads besides its own vertices and modelview: the
    // projection, the viewport, the lights and the capabilities; the back end compares it
    // with the count it last sent.
    unsigned stateVersion = 1;
    const GeometrySink* sink = &WEBGL_SINK;

    GlState();
};
extern GlState gl;

// Draws what waits under the old state and marks the state changed; every call that
// changes state a draw reads calls it first.
void stateChanging();

// The modelview-projection product that takes object coordinates to clip coordinates.
Matrix modelviewProjection();

// Stops the program with a message: a GL call or argument the layer does not implement.
[[noreturn]] void unsupportedGl(const char* what);

// ---------------------------------------------------------------------------------------
// The vertex pipeline (web/gl_pipeline.cpp)
// ---------------------------------------------------------------------------------------

// A primitive split into what OpenGL implementations draw, as indices into its vertices:
// three per triangle, in their order and winding, and two per line.
struct Pieces {
    std::vector<int> triangles;
    std::vector<int> lines;
};
// Splits a primitive of mode with count vertices into pieces (cleared first).
void splitPrimitive(GLenum mode, int count, Pieces& pieces);

// Sets the current normal: after a sphere, as GLUT's own glNormal calls leave it.
void setCurrentNormal(const float normal[3]);

// ---------------------------------------------------------------------------------------
// Display lists (web/gl_lists.cpp)
// ---------------------------------------------------------------------------------------

// The calls a display list records.
enum ListOp {
    OP_BEGIN,
    OP_END,
    OP_VERTEX,
    OP_NORMAL,
    OP_COLOUR,
    OP_TEXCOORD,
    OP_PUSH,
    OP_POP,
    OP_TRANSLATE,
    OP_ROTATE,
    OP_SCALE,
    OP_MATERIAL,
    OP_SHADE_MODEL,
    OP_CALL,
};

// While a list is being recorded, appends the call; true when it must not run now.
bool recordInList(ListOp op, GLenum e1 = 0, GLenum e2 = 0, float a = 0.0f, float b = 0.0f,
                  float c = 0.0f, float d = 0.0f);
// Stops the program on a call that OpenGL would record in a list but this layer does not.
void refuseInList(const char* call);

// ---------------------------------------------------------------------------------------
// GLUT's sphere (web/glut_sphere.cpp)
// ---------------------------------------------------------------------------------------

// A solid sphere built once for its radius, slices and stacks, with GLUT's vertices.
struct SphereMesh {
    int id;                            // 0, 1, ...: what the back end finds its mesh by
    float radius;                      // model units
    int slices, stacks;                // GLUT's arguments
    std::vector<float> points;         // x, y, z per vertex: the unit normal times radius
    std::vector<float> normals;        // x, y, z per vertex
    std::vector<unsigned short> faces; // three vertex indices per triangle, in GLUT's order
    float lastNormal[3];               // the normal GLUT's calls leave current
};

// ---------------------------------------------------------------------------------------
// The WebGL back end (web/webgl_backend.cpp)
// ---------------------------------------------------------------------------------------

// Makes the WebGL viewport follow GlState::viewport.
void webglViewport();
