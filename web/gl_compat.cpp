// OpenGL 1.1's fixed-function pipeline for the browser: matrix stacks, immediate mode,
// per-vertex lighting with front materials, display lists and GLUT's solid sphere, drawn
// through WebGL. WebGL has none of these, and the toolchain's emulation of them misdraws
// quad strips, polygons, front materials and normals set once per face, so every vertex is
// transformed and lit here, as OpenGL specifies, and WebGL only fills the triangles.
// In selection mode the same triangles go to web/selection.cpp instead of the screen.
#include "web/gl_layer.h"

#include <GL/glut.h>
#include <emscripten.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

// ---------------------------------------------------------------------------------------
// WebGL: one program that fills triangles and lines already in clip coordinates
// ---------------------------------------------------------------------------------------

// Each vertex handed to WebGL: clip x, y, z, w and the lit colour r, g, b, a.
constexpr int FLOATS_PER_VERTEX = 8;

// Compiles the program and makes its buffer, in the context of the window GLUT made
// (Module.ctx).
EM_JS(void, webglSetUp, (), {
    var gl = Module['ctx'];
    function shader(type, source) {
        var s = gl.createShader(type);
        gl.shaderSource(s, source);
        gl.compileShader(s);
        return s;
    }
    var program = gl.createProgram();
    gl.attachShader(
        program,
        shader(gl.VERTEX_SHADER, 'attribute vec4 position; attribute vec4 colour; varying vec4 v;' +
                                     'void main() { gl_Position = position; v = colour; }'));
    gl.attachShader(
        program,
        shader(gl.FRAGMENT_SHADER,
               'precision mediump float; varying vec4 v; void main() { gl_FragColor = v; }'));
    gl.bindAttribLocation(program, 0, 'position');
    gl.bindAttribLocation(program, 1, 'colour');
    gl.linkProgram(program);
    gl.useProgram(program);
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.enableVertexAttribArray(0);
    gl.enableVertexAttribArray(1);
    gl.vertexAttribPointer(0, 4, gl.FLOAT, false, 32, 0);
    gl.vertexAttribPointer(1, 4, gl.FLOAT, false, 32, 16);
    gl.frontFace(gl.CCW);
    gl.cullFace(gl.BACK);
});

// Draws count vertices from data as triangles (lines false) or lines, with the given tests.
EM_JS(void, webglDraw, (const float* data, int count, bool lines, bool cull, bool depth), {
    var gl = Module['ctx'];
    gl.bufferData(gl.ARRAY_BUFFER, HEAPF32.subarray(data >> 2, (data >> 2) + count * 8),
                  gl.STREAM_DRAW);
    if (cull)
        gl.enable(gl.CULL_FACE);
    else
        gl.disable(gl.CULL_FACE);
    if (depth)
        gl.enable(gl.DEPTH_TEST);
    else
        gl.disable(gl.DEPTH_TEST);
    gl.drawArrays(lines ? gl.LINES : gl.TRIANGLES, 0, count);
});

EM_JS(void, webglViewport, (int x, int y, int width, int height),
      { Module['ctx'].viewport(x, y, width, height); });

EM_JS(void, webglClear, (float r, float g, float b, float a, bool colour, bool depth), {
    var gl = Module['ctx'];
    gl.clearColor(r, g, b, a);
    gl.clear((colour ? gl.COLOR_BUFFER_BIT : 0) | (depth ? gl.DEPTH_BUFFER_BIT : 0));
});

// ---------------------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------------------

struct Matrix {
    float m[16]; // column-major, as OpenGL keeps it
};

constexpr Matrix IDENTITY = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
constexpr int MODELVIEW_STACK_DEPTH = 32; // OpenGL's minimum
constexpr int PROJECTION_STACK_DEPTH = 2; // OpenGL's minimum
constexpr int LIGHT_COUNT = 8;

struct Light {
    bool enabled;
    float ambient[4];
    float diffuse[4];
    float position[4]; // eye coordinates, as transformed when glLightfv was called
};

// One vertex as glVertex saw it, with the normal and colour current then.
struct ObjectVertex {
    float position[3];
    float normal[3];
    float colour[4];
};

// Everything the layer's GL calls read and write; lives as long as the page.
static struct GlState {
    std::vector<Matrix> modelview{IDENTITY};
    std::vector<Matrix> projection{IDENTITY};
    GLenum matrixMode = GL_MODELVIEW;
    RasterState raster = {{0, 0, 0, 0}, false};
    bool depthTest = false;
    bool lighting = false;
    bool normalize = false;
    GLenum shadeModel = GL_SMOOTH;
    Light lights[LIGHT_COUNT] = {};
    float lightModelAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float materialAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float materialDiffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float clearColour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float normal[3] = {0.0f, 0.0f, 1.0f};
    float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    GLenum primitive = 0; // the mode glBegin opened, 0 outside glBegin/glEnd
    std::vector<ObjectVertex> vertices;
    std::vector<float> triangles; // the frame's triangles waiting for WebGL
    std::vector<float> lines;     // the frame's lines waiting for WebGL
    bool webglReady = false;

    // OpenGL's defaults: every light black but for light 0's white diffuse, shining
    // along -z from the viewer.
    GlState() {
        for (int i = 0; i < LIGHT_COUNT; i++) {
            const float diffuse = i == 0 ? 1.0f : 0.0f;
            lights[i] = {false,
                         {0.0f, 0.0f, 0.0f, 1.0f},
                         {diffuse, diffuse, diffuse, 1.0f},
                         {0.0f, 0.0f, 1.0f, 0.0f}};
        }
    }
} gl;

const RasterState& rasterState() {
    return gl.raster;
}

void unsupportedGl(const char* what) {
    std::fprintf(stderr, "The web layer's OpenGL does not implement %s\n", what);
    std::abort();
}

// The matrix the matrix mode names.
static Matrix& currentMatrix() {
    return gl.matrixMode == GL_PROJECTION ? gl.projection.back() : gl.modelview.back();
}

// a * b, in single precision as OpenGL's matrix calls compute it.
static Matrix multiply(const Matrix& a, const Matrix& b) {
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

// m * (x, y, z, w).
static void transform(const Matrix& m, const float in[4], float out[4]) {
    for (int row = 0; row < 4; row++) {
        out[row] =
            m.m[row] * in[0] + m.m[4 + row] * in[1] + m.m[8 + row] * in[2] + m.m[12 + row] * in[3];
    }
}

// ---------------------------------------------------------------------------------------
// Display lists: the calls between glNewList and glEndList, replayed by glCallList
// ---------------------------------------------------------------------------------------

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

// One recorded call with its arguments.
struct ListCommand {
    ListOp op;
    GLenum e1; // first enum argument (mode, face or list name)
    GLenum e2; // second enum argument (material parameter)
    float v[4];
};

static std::vector<std::vector<ListCommand>> lists(1); // list n at index n; 0 is no list
static GLuint compiling = 0;                           // the list being recorded, or 0
static bool executeWhileCompiling = false;             // GL_COMPILE_AND_EXECUTE

// While a list is being recorded, appends the call; true when it must not run now.
static bool record(ListOp op, GLenum e1 = 0, GLenum e2 = 0, float a = 0.0f, float b = 0.0f,
                   float c = 0.0f, float d = 0.0f) {
    if (compiling == 0) {
        return false;
    }
    lists[compiling].push_back({op, e1, e2, {a, b, c, d}});
    return !executeWhileCompiling;
}

// A call that OpenGL would record in a list but this layer does not.
static void refuseInList(const char* call) {
    if (compiling != 0) {
        unsupportedGl(call);
    }
}

GLuint glGenLists(GLsizei range) {
    const GLuint first = static_cast<GLuint>(lists.size());
    lists.resize(lists.size() + range);
    return first;
}

void glNewList(GLuint list, GLenum mode) {
    if (list == 0 || list >= lists.size() || compiling != 0 ||
        (mode != GL_COMPILE && mode != GL_COMPILE_AND_EXECUTE)) {
        unsupportedGl("this glNewList");
    }
    lists[list].clear();
    compiling = list;
    executeWhileCompiling = mode == GL_COMPILE_AND_EXECUTE;
}

void glEndList() {
    compiling = 0;
}

void glCallList(GLuint list) {
    if (record(OP_CALL, list) || list == 0 || list >= lists.size()) {
        return;
    }
    for (const ListCommand& c : lists[list]) {
        switch (c.op) {
        case OP_BEGIN:
            glBegin(c.e1);
            break;
        case OP_END:
            glEnd();
            break;
        case OP_VERTEX:
            glVertex3f(c.v[0], c.v[1], c.v[2]);
            break;
        case OP_NORMAL:
            glNormal3f(c.v[0], c.v[1], c.v[2]);
            break;
        case OP_COLOUR:
            glColor3f(c.v[0], c.v[1], c.v[2]);
            break;
        case OP_TEXCOORD:
            glTexCoord2f(c.v[0], c.v[1]);
            break;
        case OP_PUSH:
            glPushMatrix();
            break;
        case OP_POP:
            glPopMatrix();
            break;
        case OP_TRANSLATE:
            glTranslatef(c.v[0], c.v[1], c.v[2]);
            break;
        case OP_ROTATE:
            glRotatef(c.v[0], c.v[1], c.v[2], c.v[3]);
            break;
        case OP_SCALE:
            glScalef(c.v[0], c.v[1], c.v[2]);
            break;
        case OP_MATERIAL:
            glMaterialfv(c.e1, c.e2, c.v);
            break;
        case OP_SHADE_MODEL:
            glShadeModel(c.e1);
            break;
        case OP_CALL:
            glCallList(c.e1);
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------
// State calls
// ---------------------------------------------------------------------------------------

// Sends the frame's waiting triangles and lines to WebGL.
static void flushToWebgl() {
    if (!gl.webglReady) {
        webglSetUp();
        gl.webglReady = true;
    }
    if (!gl.triangles.empty()) {
        webglDraw(gl.triangles.data(), static_cast<int>(gl.triangles.size() / FLOATS_PER_VERTEX),
                  false, gl.raster.cullFace, gl.depthTest);
        gl.triangles.clear();
    }
    if (!gl.lines.empty()) {
        webglDraw(gl.lines.data(), static_cast<int>(gl.lines.size() / FLOATS_PER_VERTEX), true,
                  false, gl.depthTest);
        gl.lines.clear();
    }
}

// Sets or clears one capability; the waiting geometry is drawn under the old setting.
static void setCapability(GLenum cap, bool on) {
    refuseInList("glEnable or glDisable in a display list");
    if (cap == GL_CULL_FACE || cap == GL_DEPTH_TEST) {
        flushToWebgl();
    }
    switch (cap) {
    case GL_CULL_FACE:
        gl.raster.cullFace = on;
        break;
    case GL_DEPTH_TEST:
        gl.depthTest = on;
        break;
    case GL_LIGHTING:
        gl.lighting = on;
        break;
    case GL_NORMALIZE:
        gl.normalize = on;
        break;
    case GL_AUTO_NORMAL:
        break; // it only concerns evaluators, which the layer has none of
    default:
        if (cap >= GL_LIGHT0 && cap < GL_LIGHT0 + LIGHT_COUNT) {
            gl.lights[cap - GL_LIGHT0].enabled = on;
            break;
        }
        unsupportedGl("this glEnable or glDisable capability");
    }
}

void glEnable(GLenum cap) {
    setCapability(cap, true);
}

void glDisable(GLenum cap) {
    setCapability(cap, false);
}

void glGetIntegerv(GLenum pname, GLint* params) {
    switch (pname) {
    case GL_VIEWPORT:
        for (int i = 0; i < 4; i++) {
            params[i] = gl.raster.viewport[i];
        }
        break;
    case GL_RENDER_MODE:
        params[0] = selectionActive() ? GL_SELECT : GL_RENDER;
        break;
    default:
        unsupportedGl("this glGetIntegerv query");
    }
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    refuseInList("glViewport in a display list");
    flushToWebgl();
    gl.raster.viewport[0] = x;
    gl.raster.viewport[1] = y;
    gl.raster.viewport[2] = width;
    gl.raster.viewport[3] = height;
    webglViewport(x, y, width, height);
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
    if (selectionActive()) {
        return; // selection draws nothing
    }
    flushToWebgl();
    webglClear(gl.clearColour[0], gl.clearColour[1], gl.clearColour[2], gl.clearColour[3],
               (mask & GL_COLOR_BUFFER_BIT) != 0, (mask & GL_DEPTH_BUFFER_BIT) != 0);
}

void glFlush() {
    refuseInList("glFlush in a display list");
    if (!selectionActive()) {
        flushToWebgl();
    }
}

void glShadeModel(GLenum mode) {
    if (record(OP_SHADE_MODEL, mode)) {
        return;
    }
    if (mode != GL_SMOOTH && mode != GL_FLAT) {
        unsupportedGl("this glShadeModel mode");
    }
    gl.shadeModel = mode;
}

void glLightfv(GLenum light, GLenum pname, const GLfloat* params) {
    refuseInList("glLightfv in a display list");
    if (light < GL_LIGHT0 || light >= GL_LIGHT0 + LIGHT_COUNT) {
        unsupportedGl("this glLightfv light");
    }
    Light& l = gl.lights[light - GL_LIGHT0];
    switch (pname) {
    case GL_POSITION:
        transform(gl.modelview.back(), params, l.position);
        break;
    case GL_AMBIENT:
    case GL_DIFFUSE:
        for (int i = 0; i < 4; i++) {
            (pname == GL_AMBIENT ? l.ambient : l.diffuse)[i] = params[i];
        }
        break;
    default:
        unsupportedGl("this glLightfv parameter");
    }
}

// Only front faces are ever lit (the layer has no two-sided lighting), so GL_FRONT and
// GL_FRONT_AND_BACK set the same material and GL_BACK's has no effect.
void glMaterialfv(GLenum face, GLenum pname, const GLfloat* params) {
    if (record(OP_MATERIAL, face, pname, params[0], params[1], params[2], params[3])) {
        return;
    }
    if (face != GL_FRONT && face != GL_FRONT_AND_BACK) {
        unsupportedGl("this glMaterialfv face");
    }
    if (pname != GL_AMBIENT && pname != GL_DIFFUSE && pname != GL_AMBIENT_AND_DIFFUSE) {
        unsupportedGl("this glMaterialfv parameter");
    }
    for (int i = 0; i < 4; i++) {
        if (pname != GL_DIFFUSE) {
            gl.materialAmbient[i] = params[i];
        }
        if (pname != GL_AMBIENT) {
            gl.materialDiffuse[i] = params[i];
        }
    }
}

// ---------------------------------------------------------------------------------------
// Matrices
// ---------------------------------------------------------------------------------------

void glMatrixMode(GLenum mode) {
    refuseInList("glMatrixMode in a display list");
    if (mode != GL_MODELVIEW && mode != GL_PROJECTION) {
        unsupportedGl("this glMatrixMode mode");
    }
    gl.matrixMode = mode;
}

void glLoadIdentity() {
    refuseInList("glLoadIdentity in a display list");
    currentMatrix() = IDENTITY;
}

void glPushMatrix() {
    if (record(OP_PUSH)) {
        return;
    }
    std::vector<Matrix>& stack = gl.matrixMode == GL_PROJECTION ? gl.projection : gl.modelview;
    const size_t depth =
        gl.matrixMode == GL_PROJECTION ? PROJECTION_STACK_DEPTH : MODELVIEW_STACK_DEPTH;
    if (stack.size() == depth) {
        unsupportedGl("a glPushMatrix beyond the stack's depth");
    }
    stack.push_back(stack.back());
}

void glPopMatrix() {
    if (record(OP_POP)) {
        return;
    }
    std::vector<Matrix>& stack = gl.matrixMode == GL_PROJECTION ? gl.projection : gl.modelview;
    if (stack.size() == 1) {
        unsupportedGl("a glPopMatrix of the last matrix");
    }
    stack.pop_back();
}

// Multiplies the current matrix by m on the right.
static void multiplyCurrent(const Matrix& m) {
    Matrix& current = currentMatrix();
    current = multiply(current, m);
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    if (record(OP_TRANSLATE, 0, 0, x, y, z)) {
        return;
    }
    float* m = currentMatrix().m;
    for (int row = 0; row < 4; row++) {
        m[12 + row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
    }
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
    if (record(OP_SCALE, 0, 0, x, y, z)) {
        return;
    }
    float* m = currentMatrix().m;
    for (int row = 0; row < 4; row++) {
        m[row] *= x;
        m[4 + row] *= y;
        m[8 + row] *= z;
    }
}

// A rotation about one of the axes is built exactly, with no rounding on the axis itself,
// as OpenGL implementations do.
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
    if (record(OP_ROTATE, 0, 0, angle, x, y, z)) {
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

// ---------------------------------------------------------------------------------------
// Immediate mode
// ---------------------------------------------------------------------------------------

void glBegin(GLenum mode) {
    if (record(OP_BEGIN, mode)) {
        return;
    }
    if (mode < GL_LINES || mode > GL_POLYGON || gl.primitive != 0) {
        unsupportedGl("this glBegin");
    }
    gl.primitive = mode;
    gl.vertices.clear();
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (record(OP_VERTEX, 0, 0, x, y, z)) {
        return;
    }
    ObjectVertex v = {{x, y, z}, {gl.normal[0], gl.normal[1], gl.normal[2]}, {}};
    for (int i = 0; i < 4; i++) {
        v.colour[i] = gl.colour[i];
    }
    gl.vertices.push_back(v);
}

void glNormal3f(GLfloat x, GLfloat y, GLfloat z) {
    if (record(OP_NORMAL, 0, 0, x, y, z)) {
        return;
    }
    gl.normal[0] = x;
    gl.normal[1] = y;
    gl.normal[2] = z;
}

void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
    if (record(OP_COLOUR, 0, 0, red, green, blue)) {
        return;
    }
    gl.colour[0] = red;
    gl.colour[1] = green;
    gl.colour[2] = blue;
    gl.colour[3] = 1.0f;
}

// Texturing is never enabled (glEnable refuses it), so, as in OpenGL, texture coordinates
// have no effect on the picture; they are kept in display lists all the same.
void glTexCoord2f(GLfloat s, GLfloat t) {
    record(OP_TEXCOORD, 0, 0, s, t);
}

// A vertex ready for WebGL or selection.
struct OutVertex {
    ClipVertex clip;
    float colour[4];
};

// The colour OpenGL's lighting gives a vertex with eye-space normal n: the scene's
// ambient light, then each enabled light's ambient and diffuse terms (the material's
// specular and emission stay at their black defaults).
static void lightVertex(const float n[3], float out[4]) {
    for (int i = 0; i < 3; i++) {
        out[i] = gl.lightModelAmbient[i] * gl.materialAmbient[i];
    }
    for (const Light& l : gl.lights) {
        if (!l.enabled) {
            continue;
        }
        if (l.position[3] != 0.0f) {
            unsupportedGl("a positional light");
        }
        const float length =
            std::sqrt(l.position[0] * l.position[0] + l.position[1] * l.position[1] +
                      l.position[2] * l.position[2]);
        float diffuse = 0.0f;
        if (length > 0.0f) {
            diffuse = (n[0] * l.position[0] + n[1] * l.position[1] + n[2] * l.position[2]) / length;
        }
        diffuse = std::fmax(diffuse, 0.0f);
        for (int i = 0; i < 3; i++) {
            out[i] += l.ambient[i] * gl.materialAmbient[i] +
                      diffuse * l.diffuse[i] * gl.materialDiffuse[i];
        }
    }
    for (int i = 0; i < 3; i++) {
        out[i] = std::fmin(std::fmax(out[i], 0.0f), 1.0f);
    }
    out[3] = std::fmin(std::fmax(gl.materialDiffuse[3], 0.0f), 1.0f);
}

// The inverse transpose of m's upper 3 x 3, which carries normals into eye space, row by
// row: the cofactors of m divided by its determinant.
static void normalMatrix(const Matrix& matrix, float out[9]) {
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

// Transforms and lights the primitive's vertices.
static std::vector<OutVertex> transformVertices() {
    const Matrix& modelview = gl.modelview.back();
    const Matrix mvp = multiply(gl.projection.back(), modelview);
    float normals[9] = {};
    normalMatrix(modelview, normals);
    std::vector<OutVertex> out(gl.vertices.size());
    for (size_t i = 0; i < gl.vertices.size(); i++) {
        const ObjectVertex& v = gl.vertices[i];
        const float position[4] = {v.position[0], v.position[1], v.position[2], 1.0f};
        float clip[4] = {};
        transform(mvp, position, clip);
        out[i].clip = {clip[0], clip[1], clip[2], clip[3]};
        if (!gl.lighting) {
            for (int k = 0; k < 4; k++) {
                out[i].colour[k] = v.colour[k];
            }
            continue;
        }
        float n[3] = {};
        for (int row = 0; row < 3; row++) {
            n[row] = normals[row * 3] * v.normal[0] + normals[row * 3 + 1] * v.normal[1] +
                     normals[row * 3 + 2] * v.normal[2];
        }
        if (gl.normalize) {
            const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            for (float& component : n) {
                component = length > 0.0f ? component / length : 0.0f;
            }
        }
        lightVertex(n, out[i].colour);
    }
    return out;
}

// Appends one vertex to a WebGL batch, in the colour of the provoking vertex when flat.
static void emit(std::vector<float>& batch, const OutVertex& v, const OutVertex& provoking) {
    const float* colour = gl.shadeModel == GL_FLAT ? provoking.colour : v.colour;
    batch.insert(batch.end(), {v.clip.x, v.clip.y, v.clip.z, v.clip.w, colour[0], colour[1],
                               colour[2], colour[3]});
}

// One triangle, wound as given; provoking is the vertex whose colour flat shading uses.
static void outputTriangle(const OutVertex& a, const OutVertex& b, const OutVertex& c,
                           const OutVertex& provoking) {
    if (selectionActive()) {
        selectTriangle(a.clip, b.clip, c.clip);
        return;
    }
    emit(gl.triangles, a, provoking);
    emit(gl.triangles, b, provoking);
    emit(gl.triangles, c, provoking);
}

static void outputLine(const OutVertex& a, const OutVertex& b) {
    if (selectionActive()) {
        selectLine(a.clip, b.clip);
        return;
    }
    emit(gl.lines, a, b);
    emit(gl.lines, b, b);
}

// Splits the primitive into triangles and lines in the order and winding OpenGL
// implementations use: quads as (0, 1, 3) and (1, 2, 3), polygons as fans.
void glEnd() {
    if (record(OP_END)) {
        return;
    }
    if (gl.primitive == 0) {
        unsupportedGl("glEnd without glBegin");
    }
    const GLenum mode = gl.primitive;
    gl.primitive = 0;
    const std::vector<OutVertex> v = transformVertices();
    const size_t n = v.size();
    switch (mode) {
    case GL_LINES:
        for (size_t i = 0; i + 1 < n; i += 2) {
            outputLine(v[i], v[i + 1]);
        }
        break;
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
        for (size_t i = 0; i + 1 < n; i++) {
            outputLine(v[i], v[i + 1]);
        }
        if (mode == GL_LINE_LOOP && n > 2) {
            outputLine(v[n - 1], v[0]);
        }
        break;
    case GL_TRIANGLES:
        for (size_t i = 0; i + 2 < n; i += 3) {
            outputTriangle(v[i], v[i + 1], v[i + 2], v[i + 2]);
        }
        break;
    case GL_TRIANGLE_STRIP:
        for (size_t i = 0; i + 2 < n; i++) {
            // Every other triangle is reversed, so that all keep the strip's winding.
            if (i % 2 == 0) {
                outputTriangle(v[i], v[i + 1], v[i + 2], v[i + 2]);
            } else {
                outputTriangle(v[i + 1], v[i], v[i + 2], v[i + 2]);
            }
        }
        break;
    case GL_TRIANGLE_FAN:
        for (size_t i = 1; i + 1 < n; i++) {
            outputTriangle(v[0], v[i], v[i + 1], v[i + 1]);
        }
        break;
    case GL_QUADS:
        for (size_t i = 0; i + 3 < n; i += 4) {
            outputTriangle(v[i], v[i + 1], v[i + 3], v[i + 3]);
            outputTriangle(v[i + 1], v[i + 2], v[i + 3], v[i + 3]);
        }
        break;
    case GL_QUAD_STRIP:
        for (size_t i = 0; i + 3 < n; i += 2) {
            outputTriangle(v[i + 2], v[i], v[i + 1], v[i + 3]);
            outputTriangle(v[i + 2], v[i + 1], v[i + 3], v[i + 3]);
        }
        break;
    case GL_POLYGON:
        for (size_t i = 1; i + 1 < n; i++) {
            outputTriangle(v[i], v[i + 1], v[0], v[0]);
        }
        break;
    default:
        unsupportedGl("this primitive");
    }
}

// ---------------------------------------------------------------------------------------
// GLUT's solid sphere, which the toolchain's GLUT lacks
// ---------------------------------------------------------------------------------------

// sin and cos of n equal steps round a circle (half a circle when half), closed by a
// repeat of the first entry (or the far pole), in single precision.
static void circleTable(std::vector<float>& sines, std::vector<float>& cosines, int n, bool half) {
    const int size = std::abs(n);
    const float angle = (half ? 1.0f : 2.0f) * static_cast<float>(M_PI) / static_cast<float>(n);
    sines.assign(size + 1, 0.0f);
    cosines.assign(size + 1, 0.0f);
    for (int i = 0; i < size; i++) {
        sines[i] = static_cast<float>(std::sin(angle * i));
        cosines[i] = static_cast<float>(std::cos(angle * i));
    }
    sines[size] = half ? 0.0f : sines[0];
    cosines[size] = half ? -1.0f : cosines[0];
}

// A sphere about the origin with its poles on the z axis: one triangle strip per stack,
// the vertices and their order as GLUT's own, so that it picks as it does natively.
extern "C" void glutSolidSphere(GLdouble radius, GLint slices, GLint stacks) {
    std::vector<float> sin1, cos1, sin2, cos2;
    circleTable(sin1, cos1, -slices, false);
    circleTable(sin2, cos2, stacks, true);
    const float r = static_cast<float>(radius);
    // Ring i (1 to stacks - 1) has slices vertices; 0 is the top pole, the last the bottom.
    struct Point {
        float x, y, z;
    };
    std::vector<Point> points = {{0.0f, 0.0f, 1.0f}};
    for (int i = 1; i < stacks; i++) {
        for (int j = 0; j < slices; j++) {
            points.push_back({cos1[j] * sin2[i], sin1[j] * sin2[i], cos2[i]});
        }
    }
    points.push_back({0.0f, 0.0f, -1.0f});
    const int last = static_cast<int>(points.size()) - 1;
    auto vertex = [&](int index) {
        const Point& p = points[index];
        glNormal3f(p.x, p.y, p.z);
        glVertex3f(p.x * r, p.y * r, p.z * r);
    };
    for (int stack = 0; stack < stacks; stack++) {
        glBegin(GL_TRIANGLE_STRIP);
        {
            for (int j = 0; j <= slices; j++) {
                const int k = j % slices;
                if (stack == 0) {
                    vertex(1 + k);
                    vertex(0);
                } else if (stack == stacks - 1) {
                    vertex(last);
                    vertex(1 + (stacks - 2) * slices + k);
                } else {
                    const int offset = 1 + (stack - 1) * slices;
                    vertex(offset + k + slices);
                    vertex(offset + k);
                }
            }
        }
        glEnd();
    }
}
