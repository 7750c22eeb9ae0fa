// The vertex pipeline: immediate mode (glBegin, the vertex attributes, glEnd) collects a
// primitive's vertices in object coordinates with the normal and colour current at each,
// and glEnd hands them to the sink that glRenderMode chose. splitPrimitive turns a
// primitive into the triangles and lines OpenGL implementations draw, for every sink.
#include "web/gl_layer.h"

#include <algorithm>

// The primitive being collected between glBegin and glEnd.
static struct PrimitiveState {
    GLenum mode = 0; // the mode glBegin opened, 0 outside glBegin/glEnd
    std::vector<ObjectVertex> vertices;
} primitive;

void setCurrentNormal(const float normal[3]) {
    for (int i = 0; i < 3; i++) {
        gl.normal[i] = normal[i];
    }
}

// Quads go as (0, 1, 3) and (1, 2, 3), polygons as fans about their first vertex, and
// every other triangle of a strip reversed so that all keep the strip's winding.
void splitPrimitive(GLenum mode, int n, Pieces& pieces) {
    pieces.triangles.clear();
    pieces.lines.clear();
    auto triangle = [&](int a, int b, int c) {
        pieces.triangles.insert(pieces.triangles.end(), {a, b, c});
    };
    auto line = [&](int a, int b) { pieces.lines.insert(pieces.lines.end(), {a, b}); };
    switch (mode) {
    case GL_LINES:
        for (int i = 0; i + 1 < n; i += 2) {
            line(i, i + 1);
        }
        break;
    case GL_TRIANGLE_STRIP:
        for (int i = 0; i + 2 < n; i++) {
            if (i % 2 == 0) {
                triangle(i, i + 1, i + 2);
            } else {
                triangle(i + 1, i, i + 2);
            }
        }
        break;
    case GL_QUADS:
        for (int i = 0; i + 3 < n; i += 4) {
            triangle(i, i + 1, i + 3);
            triangle(i + 1, i + 2, i + 3);
        }
        break;
    case GL_QUAD_STRIP:
        for (int i = 0; i + 3 < n; i += 2) {
            triangle(i + 2, i, i + 1);
            triangle(i + 2, i + 1, i + 3);
        }
        break;
    case GL_POLYGON:
        for (int i = 1; i + 1 < n; i++) {
            triangle(i, i + 1, 0);
        }
        break;
    default:
        unsupportedGl("this primitive");
    }
}

void glBegin(GLenum mode) {
    if (recordInList(OP_BEGIN, mode)) {
        return;
    }
    if (primitive.mode != 0) {
        unsupportedGl("this glBegin");
    }
    primitive.mode = mode;
    primitive.vertices.clear();
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (recordInList(OP_VERTEX, 0, 0, x, y, z)) {
        return;
    }
    primitive.vertices.push_back({{x, y, z},
                                  {gl.normal[0], gl.normal[1], gl.normal[2]},
                                  {gl.colour[0], gl.colour[1], gl.colour[2], gl.colour[3]}});
}

// Sets the current normal or colour (count of its components: 3, or 4 with an alpha of 1),
// or records the call in the display list being compiled, which leaves the current one be.
static void setCurrent(ListOp op, GLfloat* current, int count, GLfloat x, GLfloat y, GLfloat z) {
    if (recordInList(op, 0, 0, x, y, z)) {
        return;
    }
    const GLfloat value[4] = {x, y, z, 1.0f};
    std::copy(value, value + count, current);
}

void glNormal3f(GLfloat x, GLfloat y, GLfloat z) {
    setCurrent(OP_NORMAL, gl.normal, 3, x, y, z);
}

void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
    setCurrent(OP_COLOUR, gl.colour, 4, red, green, blue);
}

// Texturing is never enabled (glEnable refuses it), so, as in OpenGL, texture coordinates
// have no effect on the picture; they are kept in display lists all the same.
void glTexCoord2f(GLfloat s, GLfloat t) {
    recordInList(OP_TEXCOORD, 0, 0, s, t);
}

void glEnd() {
    if (recordInList(OP_END)) {
        return;
    }
    if (primitive.mode == 0) {
        unsupportedGl("glEnd without glBegin");
    }
    const GLenum mode = primitive.mode;
    primitive.mode = 0;
    gl.sink->primitive(mode, primitive.vertices);
}
