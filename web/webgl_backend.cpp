// The WebGL back end: the sink of ordinary frames. It does what OpenGL's fixed-function
// vertex stage does, on the page's own thread: each vertex is carried into eye coordinates
// by the modelview and lit there (the lights in eye coordinates, the front material, the
// scene's ambient light, GL_NORMALIZE), as OpenGL's per-vertex lighting does, and WebGL
// only projects and fills. A frame goes to WebGL as one batch of lit vertices in the order
// drawn, in as few draws as its runs of triangles and lines allow, because a software
// renderer (the one of every machine without a usable GPU) pays for every draw and every
// instance as much as for many triangles.
//
// Work is kept from frame to frame. Each glBegin/glEnd primitive and each of GLUT's sphere
// meshes becomes a mesh in object coordinates, found again by its contents the next time
// the same vertices are drawn. Each draw of the frame (a mesh under a modelview and a
// material) takes the place in the batch that the same draw took in the last frame, and
// is lit again only if its modelview, material or the lights differ; only the span of the
// batch that changed is written. With the ball rolling and nothing else moving, a frame
// lights and sends the ball's vertices alone.
#include "web/gl_layer.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>

// The contract between this file and the JavaScript below, declared once here: the
// shader's attribute locations and the layout of a batch vertex, handed to webglSetUp as
// numbers, which the JavaScript reads by name.
enum Attribute {
    ATTRIBUTE_POSITION,
    ATTRIBUTE_COLOUR,
};

// One vertex of the batch: in eye coordinates, with its lit colour.
struct LitVertex {
    float position[3];
    unsigned char colour[4]; // 0-255 for 0-1, as the window's pixels hold it
};

// Compiles the program and makes the batch's buffers in the context of the window GLUT
// made (Module.ctx); keeps them in Module.orlemazGl. Run at the first draw and again when a
// lost context comes back, since nothing made in the old one survives. A shader that does
// not compile, or a WebGL without 32-bit indices, stops the page with a message.
// clang-format off
EM_JS(void, webglSetUp, (int position, int colour, int vertexBytes, int vertexPosition,
                         int vertexColour), {
    var webgl = Module.ctx;
    var vertex = [
        'attribute vec3 position; attribute vec4 vertexColour;',
        'uniform mat4 projection;',
        'varying vec4 colour;',
        'void main() {',
        '  gl_Position = projection * vec4(position, 1.0);',
        '  colour = vertexColour;',
        '}'].join('\n');
    if (!webgl.getExtension('OES_element_index_uint'))
        throw new Error("the web layer needs WebGL's OES_element_index_uint");
    var names = [];
    names[position] = 'position';
    names[colour] = 'vertexColour';
    var program = orlemazLinkProgram(webgl, "the web layer's shader", vertex, names);
    webgl.frontFace(webgl.CCW);
    webgl.cullFace(webgl.BACK);
    var s = Module.orlemazGl = {
        webgl: webgl, projection: webgl.getUniformLocation(program, 'projection'),
        cull: null, depth: null, // the capabilities as last set
        // The batch's vertices and indices, each buffer sized once (and again when a frame
        // needs more) and written at most once a frame.
        vertices: webgl.createBuffer(), indices: webgl.createBuffer(), capacity: [0, 0],
        // Views of the wasm memory that uploads and the projection read, kept from frame
        // to frame and made again only when what they cover moves or the memory grows.
        views: [null, null], projectionView: null,
    };
    // The attributes point into the batch's buffer for good: the buffer stays the same
    // object when it grows, and the index buffer stays bound.
    webgl.bindBuffer(webgl.ARRAY_BUFFER, s.vertices);
    webgl.bindBuffer(webgl.ELEMENT_ARRAY_BUFFER, s.indices);
    webgl.vertexAttribPointer(position, 3, webgl.FLOAT, false, vertexBytes, vertexPosition);
    webgl.vertexAttribPointer(colour, 4, webgl.UNSIGNED_BYTE, true, vertexBytes, vertexColour);
    webgl.enableVertexAttribArray(position);
    webgl.enableVertexAttribArray(colour);
    // Fills buffer which (0, 1: vertices, indices) from bytes of the wasm memory at at:
    // only bytes from changed on, up to changed + count, unless the buffer has to grow,
    // which leaves it empty, and then all of them.
    s.fill = function(which, target, buffer, at, bytes, changed, count) {
        if (bytes == 0) return;
        webgl.bindBuffer(target, buffer);
        if (s.capacity[which] < bytes) {
            s.capacity[which] = Math.max(bytes, 2 * s.capacity[which]);
            webgl.bufferData(target, s.capacity[which], webgl.DYNAMIC_DRAW);
            changed = 0;
            count = bytes;
        }
        if (count == 0) return;
        var view = s.views[which];
        if (!view || view.byteOffset !== at + changed || view.byteLength !== count || view.buffer !== HEAPU8.buffer)
            view = s.views[which] = new Uint8Array(HEAPU8.buffer, at + changed, count);
        webgl.bufferSubData(target, changed, view);
    };
});

// Hands the shader the projection (16 floats at projection) if it changed, and sets the
// capabilities that differ from what the context has.
EM_JS(void, webglSetState, (const float* projection, bool changed, bool cull, bool depth), {
    var s = Module.orlemazGl, webgl = s.webgl, v = s.projectionView;
    if (changed) {
        if (!v || v.byteOffset !== projection || v.buffer !== HEAPF32.buffer)
            v = s.projectionView = new Float32Array(HEAPF32.buffer, projection, 16);
        webgl.uniformMatrix4fv(s.projection, false, v);
    }
    if (s.cull !== cull) {
        if (cull) webgl.enable(webgl.CULL_FACE); else webgl.disable(webgl.CULL_FACE);
        s.cull = cull;
    }
    if (s.depth !== depth) {
        if (depth) webgl.enable(webgl.DEPTH_TEST); else webgl.disable(webgl.DEPTH_TEST);
        s.depth = depth;
    }
});

// Writes the spans of the batch's two buffers that changed: at most one write each.
EM_JS(void, webglUpload, (const void* vertices, int vertexBytes, int vertexChanged,
                          int vertexCount, const void* indices, int indexBytes,
                          int indexChanged, int indexCount), {
    var s = Module.orlemazGl, webgl = s.webgl;
    s.fill(0, webgl.ARRAY_BUFFER, s.vertices, vertices, vertexBytes, vertexChanged, vertexCount);
    s.fill(1, webgl.ELEMENT_ARRAY_BUFFER, s.indices, indices, indexBytes, indexChanged,
           indexCount);
});

// Draws count of the batch's indices from index first, as triangles or as lines.
EM_JS(void, webglDrawRun, (bool lines, int first, int count), {
    var webgl = Module.ctx;
    webgl.drawElements(lines ? webgl.LINES : webgl.TRIANGLES, count, webgl.UNSIGNED_INT, first * 4);
});
// clang-format on

EM_JS(void, webglSetViewport, (int x, int y, int width, int height),
      { Module.ctx.viewport(x, y, width, height); });

EM_JS(void, webglClearColour, (float r, float g, float b, float a),
      { Module.ctx.clearColor(r, g, b, a); });

EM_JS(void, webglClear, (bool colour, bool depth), {
    var webgl = Module.ctx;
    webgl.clear((colour ? webgl.COLOR_BUFFER_BIT : 0) | (depth ? webgl.DEPTH_BUFFER_BIT : 0));
});

EM_JS(void, webglReadPixels, (int x, int y, int width, int height, unsigned char* out), {
    var webgl = Module.ctx;
    webgl.readPixels(x, y, width, height, webgl.RGBA, webgl.UNSIGNED_BYTE,
                     HEAPU8.subarray(out, out + width * height * 4));
});

// A mesh: a primitive's vertices in object coordinates as drawn, or one of GLUT's sphere
// meshes, with its triangles' indices and then its lines', into its own vertices.
struct Mesh {
    uint64_t key;                       // the hash of what it was made from
    int sphere;                         // the SphereMesh's id, or -1 for a primitive
    GLenum mode;                        // a primitive's mode
    std::vector<ObjectVertex> vertices; // a primitive's as glEnd had them, or the sphere's
    std::vector<unsigned> indices;
    int triangleIndices;
    unsigned lastFrame; // the frame that last drew it
};

// What a draw is lit under besides its vertices.
struct Instance {
    Matrix modelview;
    float ambient[4];
    float diffuse[4]; // unlit: what the mesh's own colours are multiplied by
};

// One draw of a mesh, and where its vertices and indices lie in the batch.
struct MeshDraw {
    int mesh; // index into BackendState::meshes
    Instance instance;
    int firstVertex;
    int firstIndex;
};

// A run of the batch's indices drawn in one call.
struct Run {
    bool lines;
    int first;
    int count;
};

// The lights as a vertex is lit under them: the scene's ambient light plus every enabled
// light's (each light's ambient term is the material's ambient times the light's, so one
// sum is the same product), and the enabled lights' directions and diffuse colours.
struct Lighting {
    bool on;
    bool normalize;
    int count;
    float ambient[3];
    float direction[LIGHT_COUNT][3]; // unit vectors in eye space
    float diffuse[LIGHT_COUNT][3];
};

// A frame keeps the meshes the last one drew, and more only while they are few.
constexpr size_t MESHES_KEPT = 1024;

// What the context holds and what waits for it. Everything drawn until the next change of
// state waits, so that each buffer is written at most once. The vectors keep their storage
// from frame to frame, so that a frame like the last is uploaded from the same places.
static struct BackendState {
    bool ready = false;       // whether the context has the program and buffers
    bool stateSent = false;   // whether the context has had the projection at all
    unsigned sentVersion = 0; // GlState::stateVersion when the state was last sent
    Matrix sentProjection = {};
    Lighting litUnder = {}; // the lights the batch was lit under
    // The meshes, by the hash of what each was made from, and the frame (counted by clears).
    std::vector<Mesh> meshes;
    std::unordered_multimap<uint64_t, int> byKey;
    unsigned frame = 1;
    // The draws waiting, and those of the last batch, whose places a draw like them takes.
    std::vector<MeshDraw> draws;
    std::vector<MeshDraw> last;
    // The batch, as the context's buffers hold it once it is sent.
    std::vector<LitVertex> vertices;
    std::vector<unsigned> indices;
    bool sent = false; // whether the context's buffers hold the batch
    std::vector<Run> runs;
    // The clear colour the context has, if it has had one. Sent only when it changes: a
    // WebGL call less a frame, and less for the collector than four floats into JavaScript.
    bool clearColourSent = false;
    float sentClearColour[4] = {};
    Pieces pieces;
} backend;

// Sets the context up on first use: at the first draw, and at the first after a restore,
// when the batch goes to the new buffers whole.
static void ensureReady() {
    if (!backend.ready) {
        webglSetUp(ATTRIBUTE_POSITION, ATTRIBUTE_COLOUR, sizeof(LitVertex),
                   offsetof(LitVertex, position), offsetof(LitVertex, colour));
        backend.ready = true;
        backend.stateSent = false;
        backend.sent = false;
        backend.clearColourSent = false;
    }
}

// Sends the projection if it changed since it was last sent, and the capabilities.
static void sendState() {
    ensureReady();
    if (backend.stateSent && backend.sentVersion == gl.stateVersion) {
        return;
    }
    const Matrix& projection = gl.projection.back();
    const bool changed = !backend.stateSent ||
                         std::memcmp(&projection, &backend.sentProjection, sizeof projection) != 0;
    backend.sentProjection = projection;
    backend.stateSent = true;
    backend.sentVersion = gl.stateVersion;
    webglSetState(backend.sentProjection.m, changed, gl.cullFace, gl.depthTest);
}

// The lights as the state has them now.
static Lighting currentLighting() {
    Lighting l;
    std::memset(&l, 0, sizeof l); // compared as bytes, padding included
    l.on = gl.lighting;
    l.normalize = gl.normalize;
    for (int i = 0; i < 3; i++) {
        l.ambient[i] = gl.lightModelAmbient[i];
    }
    for (const Light& light : gl.lights) {
        if (!light.enabled) {
            continue;
        }
        if (light.position[3] != 0.0f) {
            unsupportedGl("a positional light");
        }
        const float* p = light.position;
        const float length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        for (int i = 0; i < 3; i++) {
            l.ambient[i] += light.ambient[i];
            l.direction[l.count][i] = length > 0.0f ? p[i] / length : 0.0f;
            l.diffuse[l.count][i] = light.diffuse[i];
        }
        l.count++;
    }
    return l;
}

static unsigned char colourByte(float c) {
    return static_cast<unsigned char>(std::lround(std::min(std::max(c, 0.0f), 1.0f) * 255.0f));
}

// Carries a draw's vertices into eye coordinates and lights them, into out.
static void lightDraw(const Mesh& mesh, const Instance& in, const Lighting& l, LitVertex* out) {
    float normals[9] = {}; // the normal matrix, row by row
    normalMatrix(in.modelview, normals);
    for (const ObjectVertex& v : mesh.vertices) {
        const float position[4] = {v.position[0], v.position[1], v.position[2], 1.0f};
        float eye[4] = {};
        transformPoint(in.modelview, position, eye);
        LitVertex& o = *out++;
        std::copy(eye, eye + 3, o.position);
        if (!l.on) {
            for (int i = 0; i < 4; i++) {
                o.colour[i] = colourByte(v.colour[i] * in.diffuse[i]);
            }
            continue;
        }
        float n[3];
        for (int row = 0; row < 3; row++) {
            n[row] = normals[row * 3] * v.normal[0] + normals[row * 3 + 1] * v.normal[1] +
                     normals[row * 3 + 2] * v.normal[2];
        }
        const float length2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        if (l.normalize && length2 > 0.0f) {
            const float length = std::sqrt(length2);
            for (float& e : n) {
                e /= length;
            }
        }
        float c[3];
        for (int i = 0; i < 3; i++) {
            c[i] = l.ambient[i] * in.ambient[i];
        }
        for (int k = 0; k < l.count; k++) {
            const float* d = l.direction[k];
            const float facing = std::max(n[0] * d[0] + n[1] * d[1] + n[2] * d[2], 0.0f);
            for (int i = 0; i < 3; i++) {
                c[i] += facing * l.diffuse[k][i] * in.diffuse[i];
            }
        }
        for (int i = 0; i < 3; i++) {
            o.colour[i] = colourByte(c[i]);
        }
        o.colour[3] = colourByte(in.diffuse[3]);
    }
}

// FNV-1a over 32-bit words: what finds a mesh again by what it was made from.
static uint64_t hashWords(uint64_t hash, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        uint32_t word = 0;
        std::memcpy(&word, p + i, 4);
        hash = (hash ^ word) * 0x100000001b3ULL;
    }
    return hash;
}

constexpr uint64_t HASH_START = 0xcbf29ce484222325ULL;

static int addMesh(Mesh&& mesh) {
    backend.byKey.emplace(mesh.key, static_cast<int>(backend.meshes.size()));
    backend.meshes.push_back(std::move(mesh));
    return static_cast<int>(backend.meshes.size()) - 1;
}

// The mesh of a primitive's vertices, made the first time they are drawn; -1 when the
// primitive has nothing to draw.
static int primitiveMesh(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    const size_t bytes = vertices.size() * sizeof(ObjectVertex);
    const uint64_t key =
        hashWords(hashWords(HASH_START, &mode, sizeof mode), vertices.data(), bytes);
    const auto found = backend.byKey.equal_range(key);
    for (auto it = found.first; it != found.second; ++it) {
        const Mesh& m = backend.meshes[it->second];
        if (m.sphere < 0 && m.mode == mode && m.vertices.size() == vertices.size() &&
            std::memcmp(m.vertices.data(), vertices.data(), bytes) == 0) {
            return it->second;
        }
    }
    splitPrimitive(mode, static_cast<int>(vertices.size()), backend.pieces);
    if (backend.pieces.triangles.empty() && backend.pieces.lines.empty()) {
        return -1;
    }
    Mesh m = {key, -1, mode, vertices, {}, 0, 0};
    m.indices.assign(backend.pieces.triangles.begin(), backend.pieces.triangles.end());
    m.triangleIndices = static_cast<int>(m.indices.size());
    m.indices.insert(m.indices.end(), backend.pieces.lines.begin(), backend.pieces.lines.end());
    return addMesh(std::move(m));
}

// The mesh of one of GLUT's spheres, made the first time it is drawn: white, so that
// unlit it takes its draw's colour.
static int sphereMesh(const SphereMesh& sphere) {
    const uint64_t key = hashWords(HASH_START ^ 1, &sphere.id, sizeof sphere.id);
    const auto found = backend.byKey.equal_range(key);
    for (auto it = found.first; it != found.second; ++it) {
        if (backend.meshes[it->second].sphere == sphere.id) {
            return it->second;
        }
    }
    Mesh m = {key, sphere.id, 0, {}, {}, 0, 0};
    for (size_t v = 0; v < sphere.points.size(); v += 3) {
        const float* p = &sphere.points[v];
        const float* n = &sphere.normals[v];
        m.vertices.push_back({{p[0], p[1], p[2]}, {n[0], n[1], n[2]}, {1, 1, 1, 1}});
    }
    m.indices.assign(sphere.faces.begin(), sphere.faces.end());
    m.triangleIndices = static_cast<int>(m.indices.size());
    return addMesh(std::move(m));
}

// At the end of a frame: when the meshes it did not draw are most of those kept, only
// those it drew are kept, and the next batch is laid out afresh. A program whose vertices
// change from frame to frame adds a mesh a frame, and so sorts its meshes every so many
// frames, not every frame.
static void endFrame() {
    size_t drawn = 0;
    for (const Mesh& m : backend.meshes) {
        drawn += m.lastFrame == backend.frame;
    }
    if (backend.meshes.size() > MESHES_KEPT && backend.meshes.size() > 2 * drawn) {
        std::vector<Mesh> kept;
        backend.byKey.clear();
        for (Mesh& m : backend.meshes) {
            if (m.lastFrame == backend.frame) {
                backend.byKey.emplace(m.key, static_cast<int>(kept.size()));
                kept.push_back(std::move(m));
            }
        }
        backend.meshes = std::move(kept);
        backend.last.clear();
    }
    backend.frame++;
}

// Adds a draw's indices to the runs: to the last run if they follow it in the same mode.
static void addRun(bool lines, int first, int count) {
    if (count == 0) {
        return;
    }
    Run* last = backend.runs.empty() ? nullptr : &backend.runs.back();
    if (last != nullptr && last->lines == lines && last->first + last->count == first) {
        last->count += count;
    } else {
        backend.runs.push_back({lines, first, count});
    }
}

// The span [from, to) of a vector's elements that changed, as bytes from and count.
struct Span {
    size_t from = SIZE_MAX;
    size_t to = 0;
    void add(size_t first, size_t count) {
        from = std::min(from, first);
        to = std::max(to, first + count);
    }
    int changed(size_t bytes) const {
        return from < to ? static_cast<int>(from * bytes) : 0;
    }
    int count(size_t bytes) const {
        return from < to ? static_cast<int>((to - from) * bytes) : 0;
    }
};

// Lays the waiting draws out in the batch in the order drawn, each where the same draw lay
// in the last batch when it can: only a draw whose mesh, place or lighting differs is lit
// again, and only what changed is written. Then draws the batch's runs.
static void flushDraws() {
    if (backend.draws.empty()) {
        return;
    }
    sendState();
    const Lighting lighting = currentLighting();
    const bool relight = std::memcmp(&lighting, &backend.litUnder, sizeof lighting) != 0;
    std::memcpy(&backend.litUnder, &lighting, sizeof lighting);
    Span vertices, indices;
    size_t vertexCount = 0;
    size_t indexCount = 0;
    backend.runs.clear();
    for (size_t i = 0; i < backend.draws.size(); i++) {
        MeshDraw& d = backend.draws[i];
        const Mesh& m = backend.meshes[d.mesh];
        d.firstVertex = static_cast<int>(vertexCount);
        d.firstIndex = static_cast<int>(indexCount);
        const MeshDraw* was = i < backend.last.size() ? &backend.last[i] : nullptr;
        const bool samePlace = was != nullptr && was->mesh == d.mesh &&
                               was->firstVertex == d.firstVertex && was->firstIndex == d.firstIndex;
        const size_t meshVertices = m.vertices.size();
        const size_t meshIndices = m.indices.size();
        if (backend.vertices.size() < vertexCount + meshVertices) {
            backend.vertices.resize(vertexCount + meshVertices);
        }
        if (backend.indices.size() < indexCount + meshIndices) {
            backend.indices.resize(indexCount + meshIndices);
        }
        if (!samePlace) {
            for (size_t k = 0; k < meshIndices; k++) {
                backend.indices[indexCount + k] = static_cast<unsigned>(vertexCount) + m.indices[k];
            }
            indices.add(indexCount, meshIndices);
        }
        if (!samePlace || relight ||
            std::memcmp(&was->instance, &d.instance, sizeof d.instance) != 0) {
            lightDraw(m, d.instance, lighting, &backend.vertices[vertexCount]);
            vertices.add(vertexCount, meshVertices);
        }
        addRun(false, d.firstIndex, m.triangleIndices);
        addRun(true, d.firstIndex + m.triangleIndices,
               static_cast<int>(meshIndices) - m.triangleIndices);
        vertexCount += meshVertices;
        indexCount += meshIndices;
    }
    backend.vertices.resize(vertexCount);
    backend.indices.resize(indexCount);
    if (!backend.sent) {
        vertices.add(0, vertexCount);
        indices.add(0, indexCount);
    }
    webglUpload(backend.vertices.data(), static_cast<int>(vertexCount * sizeof(LitVertex)),
                vertices.changed(sizeof(LitVertex)), vertices.count(sizeof(LitVertex)),
                backend.indices.data(), static_cast<int>(indexCount * sizeof(unsigned)),
                indices.changed(sizeof(unsigned)), indices.count(sizeof(unsigned)));
    backend.sent = true;
    for (const Run& run : backend.runs) {
        webglDrawRun(run.lines, run.first, run.count);
    }
    std::swap(backend.last, backend.draws);
    backend.draws.clear();
}

// Queues a draw of a mesh under the current modelview and material; unlit, its colour is
// the mesh's own times diffuse.
static void queueDraw(int mesh, const float diffuse[4]) {
    backend.meshes[mesh].lastFrame = backend.frame;
    MeshDraw d = {mesh, {gl.modelview.back(), {}, {}}, 0, 0};
    std::copy(gl.materialAmbient, gl.materialAmbient + 4, d.instance.ambient);
    std::copy(diffuse, diffuse + 4, d.instance.diffuse);
    backend.draws.push_back(d);
}

// Queues one glBegin/glEnd primitive: unlit, in its vertices' own colours.
static void queuePrimitive(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    static const float WHITE[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const int mesh = primitiveMesh(mode, vertices);
    if (mesh >= 0) {
        queueDraw(mesh, gl.lighting ? gl.materialDiffuse : WHITE);
    }
}

// Queues one of GLUT's spheres: unlit, in the current colour.
static void queueSphere(const SphereMesh& mesh) {
    queueDraw(sphereMesh(mesh), gl.lighting ? gl.materialDiffuse : gl.colour);
}

static bool alwaysReached(const Bounds&) {
    return true;
}

// Ends the frame: what it drew goes first.
static void clearBuffers(GLbitfield mask) {
    flushDraws();
    endFrame();
    ensureReady();
    if (!backend.clearColourSent ||
        std::memcmp(backend.sentClearColour, gl.clearColour, sizeof gl.clearColour) != 0) {
        std::copy(gl.clearColour, gl.clearColour + 4, backend.sentClearColour);
        backend.clearColourSent = true;
        webglClearColour(gl.clearColour[0], gl.clearColour[1], gl.clearColour[2],
                         gl.clearColour[3]);
    }
    webglClear((mask & GL_COLOR_BUFFER_BIT) != 0, (mask & GL_DEPTH_BUFFER_BIT) != 0);
}

const GeometrySink WEBGL_SINK = {queuePrimitive, queueSphere, alwaysReached, clearBuffers,
                                 flushDraws};

void webglViewport() {
    ensureReady();
    webglSetViewport(gl.viewport[0], gl.viewport[1], gl.viewport[2], gl.viewport[3]);
}

// The browser gave back a lost context, empty: the layer sets it up again, as at the start,
// and gives it the viewport; the projection and the batch go with the next draw.
extern "C" EMSCRIPTEN_KEEPALIVE void webglContextRestored() {
    backend.ready = false;
    webglViewport();
}

// Only what the window shows, as bytes of red, green, blue and alpha.
void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                  GLvoid* pixels) {
    refuseInList("glReadPixels in a display list");
    if (format != GL_RGBA || type != GL_UNSIGNED_BYTE) {
        unsupportedGl("this glReadPixels format");
    }
    gl.sink->flush();
    ensureReady();
    webglReadPixels(x, y, width, height, static_cast<unsigned char*>(pixels));
}
