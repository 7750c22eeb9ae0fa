// What the two halves of the web layer's OpenGL share: web/gl_compat.cpp keeps the GL
// state and turns every primitive into triangles and lines in clip coordinates, and
// web/selection.cpp turns those into hit records while the render mode is GL_SELECT.
#pragma once

#include <GL/gl.h>

// A vertex after the modelview and projection matrices, before the division by w.
struct ClipVertex {
    float x, y, z, w;
};

// The state selection reads from the rest of GL: set by glViewport, glEnable, glDisable.
struct RasterState {
    GLint viewport[4]; // x, y, width, height in pixels
    bool cullFace;     // GL_CULL_FACE: back faces (counter-clockwise is front) are dropped
};
const RasterState& rasterState();

// True while glRenderMode has selection on (web/selection.cpp).
bool selectionActive();
// Counts a triangle or a line, as OpenGL's selection does, for the hit of the current names.
void selectTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c);
void selectLine(const ClipVertex& a, const ClipVertex& b);

// Stops the program with a message: a GL call or argument the layer does not implement.
[[noreturn]] void unsupportedGl(const char* what);
