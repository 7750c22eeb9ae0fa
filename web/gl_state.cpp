// The web layer's state and matrices: the one record every GL call reads and writes (its
// capabilities, lights, materials and viewport), the matrix stacks and their arithmetic.
// Calls that change what a draw reads first let the sink draw what waits (stateChanging).
// Called by the program's modules; the pipeline, the back end and selection read the record.
#include "web/gl_layer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

constexpr int MODELVIEW_STACK_DEPTH = 32; // OpenGL's minimum
constexpr int PROJECTION_STACK_DEPTH = 2; // OpenGL's minimum

// OpenGL's defaults: every light black but for light 0's white diffuse, shining along -z
// from the viewer.
GlState::GlState() {
    for (int i = 0; i < LIGHT_COUNT; i++) {
        const float diffuse = i == 0 ? 1.0f : 0.0f;
        lights[i] = {false,
                     {0.0f, 0.0f, 0.0f, 1.0f},
                     {diffuse, diffuse, diffuse, 1.0f},
                     {0.0f, 0.0f, 1.0f, 0.0f}};
    }
}

GlState gl;

void unsupportedGl(const char* what) {
    std::fprintf(stderr, "The web layer's OpenGL does not implement %s\n", what);
    std::abort();
}

void stateChanging() {
    gl.sink->flush();
    gl.stateVersion++;
}

// ---------------------------------------------------------------------------------------
// Matrix arithmetic
// ---------------------------------------------------------------------------------------

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r = {};
    for (int column = 0; column < 4; column++) {
        for (int row = 0; row < 4; row++) {
            r.m[column * 4 + row] =
                a.m[row] * b.m[column * 4] + a.m[4 + row] * b.m[column * 4 + 1] +
                a.m[8 + row] * b.m[column * 4 + 2] + a.m[12 + row] * b.m[column * 4 + 3];
        }
    }
    return r;
}

void transformPoint(const Matrix& m, const float in[4], float out[4]) {
    for (int row = 0; row < 4; row++) {
        out[row] =
            m.m[row] * in[0] + m.m[4 + row] * in[1] + m.m[8 + row] * in[2] + m.m[12 + row] * in[3];
    }
}

// The cofactors of m divided by its determinant.
void normalMatrix(const Matrix& matrix, float out[9]) {
    auto e = [&](int row, int column) { return matrix.m[column * 4 + row]; };
    for (int row = 0; row < 3; row++) {
        for (int column = 0; column < 3; column++) {
            const int r1 = (row + 1) % 3, r2 = (row + 2) % 3;
            const int c1 = (column + 1) % 3, c2 = (column + 2) % 3;
            out[row * 3 + column] = e(r1, c1) * e(r2, c2) - e(r1, c2) * e(r2, c1);
        }
    }
    const float det = e(0, 0) * out[0] + e(0, 1) * out[1] + e(0, 2) * out[2];
    for (int i = 0; i < 9; i++) {
        out[i] = det != 0.0f ? out[i] / det : 0.0f;
    }
}

Matrix modelviewProjection() {
    return multiply(gl.projection.back(), gl.modelview.back());
}

// ---------------------------------------------------------------------------------------
// Capabilities, viewport, buffers, lights and materials
// ---------------------------------------------------------------------------------------

// The flag that holds a capability the layer keeps, or nullptr for one it does not.
static bool* capabilityFlag(GLenum cap) {
    if (cap >= GL_LIGHT0 && cap < GL_LIGHT0 + LIGHT_COUNT) {
        return &gl.lights[cap - GL_LIGHT0].enabled;
    }
    switch (cap) {
    case GL_CULL_FACE:
        return &gl.cullFace;
    case GL_DEPTH_TEST:
        return &gl.depthTest;
    case GL_LIGHTING:
        return &gl.lighting;
    case GL_NORMALIZE:
        return &gl.normalize;
    default:
        return nullptr;
    }
}

// Sets one capability; the waiting geometry is drawn under the old setting. The program
// never clears one, so the layer has no glDisable.
void glEnable(GLenum cap) {
    refuseInList("glEnable in a display list");
    stateChanging();
    if (cap == GL_AUTO_NORMAL) {
        return; // it only concerns evaluators, which the layer has none of
    }
    bool* flag = capabilityFlag(cap);
    if (flag == nullptr) {
        unsupportedGl("this glEnable capability");
    }
    *flag = true;
}

void glGetIntegerv(GLenum pname, GLint* params) {
    switch (pname) {
    case GL_VIEWPORT:
        for (int i = 0; i < 4; i++) {
            params[i] = gl.viewport[i];
        }
        break;
    default:
        unsupportedGl("this glGetIntegerv query");
    }
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    refuseInList("glViewport in a display list");
    stateChanging();
    gl.viewport[0] = x;
    gl.viewport[1] = y;
    gl.viewport[2] = width;
    gl.viewport[3] = height;
    webglViewport();
}

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    refuseInList("glClearColor in a display list");
    const float c[4] = {red, green, blue, alpha};
    for (int i = 0; i < 4; i++) {
        gl.clearColour[i] = std::fmin(std::fmax(c[i], 0.0f), 1.0f);
    }
}

void glClear(GLbitfield mask) {
    refuseInList("glClear in a display list");
    gl.sink->clear(mask);
}

void glFlush() {
    refuseInList("glFlush in a display list");
    gl.sink->flush();
}

void glShadeModel(GLenum mode) {
    if (recordInList(OP_SHADE_MODEL, mode)) {
        return;
    }
    if (mode != GL_SMOOTH) {
        unsupportedGl("this glShadeModel mode");
    }
}

// A light's position only: its colours keep OpenGL's defaults.
void glLightfv(GLenum light, GLenum pname, const GLfloat* params) {
    refuseInList("glLightfv in a display list");
    if (light < GL_LIGHT0 || light >= GL_LIGHT0 + LIGHT_COUNT || pname != GL_POSITION) {
        unsupportedGl("this glLightfv light or parameter");
    }
    stateChanging();
    transformPoint(gl.modelview.back(), params, gl.lights[light - GL_LIGHT0].position);
}

// The front material's ambient and diffuse colour, as the program sets it: only front faces
// are ever lit (the layer has no two-sided lighting).
void glMaterialfv(GLenum face, GLenum pname, const GLfloat* params) {
    if (recordInList(OP_MATERIAL, face, pname, params[0], params[1], params[2], params[3])) {
        return;
    }
    if (face != GL_FRONT || pname != GL_AMBIENT_AND_DIFFUSE) {
        unsupportedGl("this glMaterialfv face or parameter");
    }
    std::copy(params, params + 4, gl.materialAmbient);
    std::copy(params, params + 4, gl.materialDiffuse);
}

// ---------------------------------------------------------------------------------------
// Matrix stacks
// ---------------------------------------------------------------------------------------

// The stack the matrix mode names.
static std::vector<Matrix>& currentStack() {
    return gl.matrixMode == GL_PROJECTION ? gl.projection : gl.modelview;
}

// The matrix the matrix mode names, about to change: a change of the projection is a
// change of what waiting geometry is drawn under.
static Matrix& changingMatrix() {
    if (gl.matrixMode == GL_PROJECTION) {
        stateChanging();
    }
    return currentStack().back();
}

void glMatrixMode(GLenum mode) {
    refuseInList("glMatrixMode in a display list");
    if (mode != GL_MODELVIEW && mode != GL_PROJECTION) {
        unsupportedGl("this glMatrixMode mode");
    }
    gl.matrixMode = mode;
}

void glLoadIdentity() {
    refuseInList("glLoadIdentity in a display list");
    changingMatrix() = IDENTITY;
}

void glPushMatrix() {
    if (recordInList(OP_PUSH)) {
        return;
    }
    std::vector<Matrix>& stack = currentStack();
    const size_t depth =
        gl.matrixMode == GL_PROJECTION ? PROJECTION_STACK_DEPTH : MODELVIEW_STACK_DEPTH;
    if (stack.size() == depth) {
        unsupportedGl("a glPushMatrix beyond the stack's depth");
    }
    stack.push_back(stack.back());
}

void glPopMatrix() {
    if (recordInList(OP_POP)) {
        return;
    }
    if (currentStack().size() == 1) {
        unsupportedGl("a glPopMatrix of the last matrix");
    }
    changingMatrix();
    currentStack().pop_back();
}

// Multiplies the current matrix by m on the right.
static void multiplyCurrent(const Matrix& m) {
    Matrix& current = changingMatrix();
    current = multiply(current, m);
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    if (recordInList(OP_TRANSLATE, 0, 0, x, y, z)) {
        return;
    }
    float* m = changingMatrix().m;
    for (int row = 0; row < 4; row++) {
        m[12 + row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
    }
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
    if (recordInList(OP_SCALE, 0, 0, x, y, z)) {
        return;
    }
    float* m = changingMatrix().m;
    for (int row = 0; row < 4; row++) {
        m[row] *= x;
        m[4 + row] *= y;
        m[8 + row] *= z;
    }
}

// A rotation about one of the axes is built exactly, with no rounding on the axis itself,
// as OpenGL implementations do.
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    if (recordInList(OP_ROTATE, 0, 0, angle, x, y, z)) {
        return;
    }
    const double radians = angle * M_PI / 180.0;
    float s = static_cast<float>(std::sin(radians));
    const float c = static_cast<float>(std::cos(radians));
    Matrix r = IDENTITY;
    auto e = [&](int row, int column) -> float& { return r.m[column * 4 + row]; };
    int axis = -1; // 0, 1, 2 for a rotation about x, y or z alone
    if (y == 0.0f && z == 0.0f && x != 0.0f) {
        axis = 0;
        s = x < 0.0f ? -s : s;
    } else if (x == 0.0f && z == 0.0f && y != 0.0f) {
        axis = 1;
        s = y < 0.0f ? -s : s;
    } else if (x == 0.0f && y == 0.0f && z != 0.0f) {
        axis = 2;
        s = z < 0.0f ? -s : s;
    }
    if (axis >= 0) {
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        e(a, a) = c;
        e(b, b) = c;
        e(a, b) = -s;
        e(b, a) = s;
    } else {
        const float length = std::sqrt(x * x + y * y + z * z);
        if (length == 0.0f) {
            return;
        }
        const float u[3] = {x / length, y / length, z / length};
        const float one = 1.0f - c;
        for (int row = 0; row < 3; row++) {
            for (int column = 0; column < 3; column++) {
                e(row, column) = u[row] * u[column] * one + (row == column ? c : 0.0f);
            }
        }
        e(0, 1) -= u[2] * s;
        e(1, 0) += u[2] * s;
        e(0, 2) += u[1] * s;
        e(2, 0) -= u[1] * s;
        e(1, 2) -= u[0] * s;
        e(2, 1) += u[0] * s;
    }
    multiplyCurrent(r);
}

void glFrustum(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
               GLdouble zFar) {
    refuseInList("glFrustum in a display list");
    const float l = static_cast<float>(left), r = static_cast<float>(right);
    const float b = static_cast<float>(bottom), t = static_cast<float>(top);
    const float n = static_cast<float>(zNear), f = static_cast<float>(zFar);
    Matrix m = {};
    m.m[0] = 2.0f * n / (r - l);
    m.m[5] = 2.0f * n / (t - b);
    m.m[8] = (r + l) / (r - l);
    m.m[9] = (t + b) / (t - b);
    m.m[10] = -(f + n) / (f - n);
    m.m[11] = -1.0f;
    m.m[14] = -(2.0f * f * n) / (f - n);
    multiplyCurrent(m);
}
