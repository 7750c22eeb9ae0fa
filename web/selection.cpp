// OpenGL's selection mode for the browser, which WebGL lacks: the name stack, the hit
// records and gluPickMatrix. While GL_SELECT is in force this is the layer's sink: every
// triangle and line is transformed to clip coordinates here, and each one that survives
// clipping to the view volume (and, for triangles, back-face culling in window
// coordinates) is a hit for the names on the stack, with the depths of its clipped
// vertices, as Mesa's selection counts them. A sphere or a display list whose box lies
// wholly outside the volume is skipped before any of its triangles.
#include "web/gl_layer.h"

#include <GL/glu.h>

#include <algorithm>
#include <vector>

static struct SelectionState {
    bool active = false;      // glRenderMode(GL_SELECT) is in force
    GLuint* buffer = nullptr; // glSelectBuffer's array
    GLsizei size = 0;         // its length in words
    GLsizei written = 0;      // words written this selection
    bool overflow = false;    // a record did not fit
    GLint hits = 0;           // records written this selection
    std::vector<GLuint> names;
    bool hit = false; // something was hit since the last record
    float minZ = 1.0f;
    float maxZ = 0.0f;
} sel;

constexpr int MAX_NAME_STACK = 64; // OpenGL's minimum
constexpr int MAX_CLIPPED = 9;     // a triangle clipped by six planes has at most 9 vertices

// Appends one word to the buffer, marking the overflow when it is full.
static void writeWord(GLuint word) {
    if (sel.written < sel.size) {
        sel.buffer[sel.written++] = word;
    } else {
        sel.overflow = true;
    }
}

// Writes the hit record of the names on the stack, if there was a hit: the count of names,
// the depths scaled to 0 .. 2^32 - 1, then the names from the bottom.
static void writeHitRecord() {
    if (!sel.hit) {
        return;
    }
    const float scale = static_cast<float>(0xFFFFFFFFu);
    auto depthWord = [&](float z) {
        return z >= 1.0f ? 0xFFFFFFFFu : static_cast<GLuint>(scale * z);
    };
    writeWord(static_cast<GLuint>(sel.names.size()));
    writeWord(depthWord(sel.minZ));
    writeWord(depthWord(sel.maxZ));
    for (GLuint name : sel.names) {
        writeWord(name);
    }
    sel.hits++;
    sel.hit = false;
    sel.minZ = 1.0f;
    sel.maxZ = 0.0f;
}

// A window depth reached by a primitive that was hit.
static void updateHit(float z) {
    sel.hit = true;
    sel.minZ = z < sel.minZ ? z : sel.minZ;
    sel.maxZ = z > sel.maxZ ? z : sel.maxZ;
}

void glSelectBuffer(GLsizei size, GLuint* buffer) {
    if (sel.active) {
        unsupportedGl("glSelectBuffer in selection mode");
    }
    sel.buffer = buffer;
    sel.size = size;
}

// Returns what the mode being left produced: the number of hit records, or -1 when they
// overflowed the buffer.
GLint glRenderMode(GLenum mode) {
    if (mode != GL_RENDER && mode != GL_SELECT) {
        unsupportedGl("this glRenderMode mode");
    }
    GLint result = 0;
    if (sel.active) {
        writeHitRecord();
        result = sel.overflow ? -1 : sel.hits;
    }
    stateChanging();
    sel.active = mode == GL_SELECT;
    gl.sink = sel.active ? &SELECTION_SINK : &WEBGL_SINK;
    sel.written = 0;
    sel.overflow = false;
    sel.hits = 0;
    sel.names.clear();
    sel.hit = false;
    sel.minZ = 1.0f;
    sel.maxZ = 0.0f;
    return result;
}

void glInitNames() {
    if (sel.active) {
        writeHitRecord();
        sel.names.clear();
    }
}

void glPushName(GLuint name) {
    if (!sel.active) {
        return;
    }
    writeHitRecord();
    if (sel.names.size() == MAX_NAME_STACK) {
        unsupportedGl("a glPushName beyond the name stack's depth");
    }
    sel.names.push_back(name);
}

void glLoadName(GLuint name) {
    if (!sel.active) {
        return;
    }
    if (sel.names.empty()) {
        unsupportedGl("glLoadName on an empty name stack");
    }
    writeHitRecord();
    sel.names.back() = name;
}

// Scales and moves the region of width x height pixels about (x, y) to fill the view
// volume, so that only what falls inside it survives clipping.
void gluPickMatrix(GLdouble x, GLdouble y, GLdouble width, GLdouble height, GLint viewport[4]) {
    if (width <= 0.0 || height <= 0.0) {
        return;
    }
    glTranslatef(static_cast<GLfloat>((viewport[2] - 2.0 * (x - viewport[0])) / width),
                 static_cast<GLfloat>((viewport[3] - 2.0 * (y - viewport[1])) / height), 0.0f);
    glScalef(static_cast<GLfloat>(viewport[2] / width), static_cast<GLfloat>(viewport[3] / height),
             1.0f);
}

// ---------------------------------------------------------------------------------------
// Clipping to the view volume
// ---------------------------------------------------------------------------------------

// Signed distance of v inside plane p (0 to 5: x >= -w, x <= w, y >= -w, ...).
static float planeDistance(const ClipVertex& v, int p) {
    const float c = p < 2 ? v.x : (p < 4 ? v.y : v.z);
    return p % 2 == 0 ? v.w + c : v.w - c;
}

static ClipVertex lerp(const ClipVertex& a, const ClipVertex& b, float t) {
    return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z),
            a.w + t * (b.w - a.w)};
}

// The bits of the planes v lies outside.
static int outcode(const ClipVertex& v) {
    int code = 0;
    for (int p = 0; p < 6; p++) {
        if (planeDistance(v, p) < 0.0f) {
            code |= 1 << p;
        }
    }
    return code;
}

// Window x, y and depth of a clip-space vertex inside the volume.
struct WindowVertex {
    float x, y, z;
};

static WindowVertex toWindow(const ClipVertex& v) {
    const GLint* vp = gl.viewport;
    const float inverse = 1.0f / v.w;
    return {v.x * inverse * (vp[2] * 0.5f) + (vp[0] + vp[2] * 0.5f),
            v.y * inverse * (vp[3] * 0.5f) + (vp[1] + vp[3] * 0.5f), v.z * inverse * 0.5f + 0.5f};
}

// Twice the signed area of a window triangle: positive when counter-clockwise.
static float windingArea(const WindowVertex& a, const WindowVertex& b, const WindowVertex& c) {
    return (a.x - c.x) * (b.y - c.y) - (a.y - c.y) * (b.x - c.x);
}

// Counts a triangle, as OpenGL's selection does, for the hit of the current names.
static void selectTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c) {
    const int codeA = outcode(a), codeB = outcode(b), codeC = outcode(c);
    if ((codeA & codeB & codeC) != 0) {
        return; // wholly outside one plane
    }
    ClipVertex polygon[MAX_CLIPPED] = {a, b, c};
    int count = 3;
    const int planes = codeA | codeB | codeC;
    for (int p = 0; p < 6 && count > 0; p++) {
        if ((planes & (1 << p)) == 0) {
            continue;
        }
        ClipVertex clipped[MAX_CLIPPED];
        int kept = 0;
        for (int i = 0; i < count; i++) {
            const ClipVertex& from = polygon[i];
            const ClipVertex& to = polygon[(i + 1) % count];
            const float dFrom = planeDistance(from, p);
            const float dTo = planeDistance(to, p);
            if (dFrom >= 0.0f) {
                clipped[kept++] = from;
            }
            if ((dFrom >= 0.0f) != (dTo >= 0.0f)) {
                clipped[kept++] = lerp(from, to, dFrom / (dFrom - dTo));
            }
        }
        count = kept;
        for (int i = 0; i < count; i++) {
            polygon[i] = clipped[i];
        }
    }
    if (count < 3) {
        return;
    }
    // A triangle wholly in front of the eye is culled by its own winding on the screen;
    // one with no area faces neither way and is dropped too.
    const bool inFront = a.w > 0.0f && b.w > 0.0f && c.w > 0.0f;
    if (gl.cullFace && inFront && !(windingArea(toWindow(a), toWindow(b), toWindow(c)) > 0.0f)) {
        return;
    }
    // The clipped polygon goes on as a fan. Where the triangle reached behind the eye its
    // winding is only known after clipping, so each triangle of the fan is culled then.
    WindowVertex window[MAX_CLIPPED];
    for (int i = 0; i < count; i++) {
        window[i] = toWindow(polygon[i]);
    }
    for (int i = 2; i < count; i++) {
        const WindowVertex& v0 = window[i - 1];
        const WindowVertex& v1 = window[i];
        const WindowVertex& v2 = window[0];
        if (gl.cullFace && !inFront && !(windingArea(v0, v1, v2) > 0.0f)) {
            continue;
        }
        updateHit(v0.z);
        updateHit(v1.z);
        updateHit(v2.z);
    }
}

static void selectLine(const ClipVertex& a, const ClipVertex& b) {
    float t0 = 0.0f, t1 = 1.0f;
    for (int p = 0; p < 6; p++) {
        const float dA = planeDistance(a, p);
        const float dB = planeDistance(b, p);
        if (dA < 0.0f && dB < 0.0f) {
            return;
        }
        if (dA < 0.0f) {
            t0 = std::max(t0, dA / (dA - dB));
        } else if (dB < 0.0f) {
            t1 = std::min(t1, dA / (dA - dB));
        }
    }
    if (t0 > t1) {
        return;
    }
    updateHit(toWindow(lerp(a, b, t0)).z);
    updateHit(toWindow(lerp(a, b, t1)).z);
}

// ---------------------------------------------------------------------------------------
// The sink
// ---------------------------------------------------------------------------------------

static ClipVertex toClip(const Matrix& mvp, const float position[3]) {
    const float in[4] = {position[0], position[1], position[2], 1.0f};
    float out[4] = {};
    transformPoint(mvp, in, out);
    return {out[0], out[1], out[2], out[3]};
}

static void selectPrimitive(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    static std::vector<ClipVertex> clip;
    static Pieces pieces;
    const Matrix mvp = modelviewProjection();
    clip.resize(vertices.size());
    for (size_t i = 0; i < vertices.size(); i++) {
        clip[i] = toClip(mvp, vertices[i].position);
    }
    splitPrimitive(mode, static_cast<int>(vertices.size()), pieces);
    for (size_t i = 0; i < pieces.triangles.size(); i += 3) {
        selectTriangle(clip[pieces.triangles[i]], clip[pieces.triangles[i + 1]],
                       clip[pieces.triangles[i + 2]]);
    }
    for (size_t i = 0; i < pieces.lines.size(); i += 2) {
        selectLine(clip[pieces.lines[i]], clip[pieces.lines[i + 1]]);
    }
}

// True unless all eight corners of the box lie outside one plane of the view volume; what
// the box holds is then wholly outside it too, and hits nothing.
static bool selectionMayReach(const Bounds& b) {
    const Matrix mvp = modelviewProjection();
    int outside = 0x3F;
    for (int corner = 0; corner < 8 && outside != 0; corner++) {
        const float p[3] = {(corner & 1) ? b.max[0] : b.min[0], (corner & 2) ? b.max[1] : b.min[1],
                            (corner & 4) ? b.max[2] : b.min[2]};
        outside &= outcode(toClip(mvp, p));
    }
    return outside == 0;
}

static void selectSphere(const SphereMesh& mesh) {
    static std::vector<ClipVertex> clip;
    // The box is grown by a margin far beyond the rounding of its corners' transformation.
    const float r = mesh.radius * 1.001f + 1e-4f;
    if (!selectionMayReach({{-r, -r, -r}, {r, r, r}})) {
        return;
    }
    const Matrix mvp = modelviewProjection();
    const size_t count = mesh.points.size() / 3;
    clip.resize(count);
    for (size_t i = 0; i < count; i++) {
        clip[i] = toClip(mvp, &mesh.points[i * 3]);
    }
    for (size_t i = 0; i < mesh.faces.size(); i += 3) {
        selectTriangle(clip[mesh.faces[i]], clip[mesh.faces[i + 1]], clip[mesh.faces[i + 2]]);
    }
}

static void selectNothing() {}
static void clearNothing(GLbitfield) {}

const GeometrySink SELECTION_SINK = {selectPrimitive, selectSphere, selectionMayReach, clearNothing,
                                     selectNothing};
