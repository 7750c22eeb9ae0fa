// The WebGL back end: the sink of ordinary frames. One program transforms and lights every
// vertex in its vertex shader from the fixed-function state (the matrices, the lights in
// eye coordinates, the front material, the scene's ambient light, GL_NORMALIZE), as
// OpenGL's per-vertex lighting does.
//
// Geometry is kept, not streamed: each glBegin/glEnd primitive and each of GLUT's sphere
// meshes becomes a mesh in object coordinates, stored once in WebGL buffers that only grow,
// and found again by its contents the next time the same vertices are drawn, in this frame
// or the next. What a frame sends is how to draw them: per draw, the modelview and the
// material (an instance), and of those only the bytes that differ from the last frame's.
// The draws of one mesh go in one instanced draw. The draws wait until a clear, glFlush or
// a change of the state they were made under, and then go with at most one write of each
// buffer.
#include "web/gl_layer.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>

// The contract between this file and the JavaScript below, declared once here: the
// shader's attribute locations, the layouts of a mesh vertex, an instance and the state
// record, all handed to webglSetUp as numbers, which the JavaScript reads by name.
enum Attribute {
    ATTRIBUTE_POSITION, // a mesh's, per vertex
    ATTRIBUTE_NORMAL,
    ATTRIBUTE_COLOUR,
    ATTRIBUTE_AMBIENT, // an instance's, per draw
    ATTRIBUTE_DIFFUSE,
    ATTRIBUTE_MODELVIEW, // four locations, a column each
};

// One vertex of a mesh, in object coordinates, with the colour it shows unlit: a
// primitive's current colour at the vertex, white for a sphere, whose colour is its draw's.
struct MeshVertex {
    float position[3];
    float normal[3];
    unsigned char colour[4]; // 0-255 for 0-1, as the window's pixels hold it
};

// One draw of a mesh: the modelview's four columns and the front material. Unlit, the
// diffuse is the colour the mesh's own is multiplied by: white for a primitive, the
// current colour for a sphere.
struct Instance {
    float modelview[16];
    float ambient[4];
    float diffuse[4];
};

// What a draw reads besides its vertices: the uniforms of the shader.
struct ShaderState {
    float projection[16];
    float ambientLight[4]; // the scene's ambient light plus the enabled lights' ambient
    float lightDirection[LIGHT_COUNT][3]; // the enabled lights first, unit vectors in eye space
    float lightDiffuse[LIGHT_COUNT][4];
};

// Makes the buffers in the context of the window GLUT made (Module.ctx) and keeps them in
// Module.orlemazGl, with the shader's text: its programs are made as each is first needed
// (webglSetState). Run at the first draw and again when a lost context comes back, since
// nothing made in the old one survives. A WebGL without instanced drawing or 32-bit
// indices stops the page with a message.
// clang-format off
EM_JS(void, webglSetUp, (int position, int normal, int colour, int ambient, int diffuse,
                         int modelview, int vertexBytes, int vertexPosition, int vertexNormal,
                         int vertexColour, int instanceBytes, int instanceModelview,
                         int instanceAmbient, int instanceDiffuse, int stateProjection,
                         int stateAmbientLight, int stateLightDirection,
                         int stateLightDiffuse), {
    var webgl = Module.ctx;
    // One text for every program, which its first lines specialise: lit or not, how many
    // lights, whether normals are normalized. The modelview comes as four columns per
    // instance; its cofactors carry normals (normalized, only the sign of the determinant
    // counts).
    var vertex = [
        'attribute vec3 position; attribute vec3 normal; attribute vec4 vertexColour;',
        'attribute vec4 ambient; attribute vec4 diffuse;',
        'attribute vec4 modelview0; attribute vec4 modelview1;',
        'attribute vec4 modelview2; attribute vec4 modelview3;',
        'uniform mat4 projection;',
        '#if LIGHTING',
        'uniform vec4 ambientLight;',
        '#if LIGHT_COUNT > 0',
        'uniform vec3 lightDirection[LIGHT_COUNT]; uniform vec4 lightDiffuse[LIGHT_COUNT];',
        '#endif',
        '#endif',
        'varying vec4 colour;',
        'void main() {',
        '  mat4 modelview = mat4(modelview0, modelview1, modelview2, modelview3);',
        '  gl_Position = projection * (modelview * vec4(position, 1.0));',
        '#if !LIGHTING',
        '  colour = vertexColour * diffuse;',
        '#else',
        '  vec3 c = ambientLight.rgb * ambient.rgb;',
        '#if LIGHT_COUNT > 0',
        '  vec3 c0 = modelview0.xyz, c1 = modelview1.xyz, c2 = modelview2.xyz;',
        '  vec3 x = cross(c1, c2);',
        '  float det = dot(c0, x);',
        '  vec3 n = mat3(x, cross(c2, c0), cross(c0, c1)) * normal;',
        '#if NORMALIZE',
        '  n *= sign(det);',
        '  float length2 = dot(n, n);',
        '  if (length2 > 0.0) n *= inversesqrt(length2);',
        '#else',
        '  n = det != 0.0 ? n / det : vec3(0.0);',
        '#endif',
        '  vec3 d = vec3(0.0);',
        '  for (int i = 0; i < LIGHT_COUNT; i++)',
        '    d += max(dot(n, lightDirection[i]), 0.0) * lightDiffuse[i].rgb;',
        '  c += d * diffuse.rgb;',
        '#endif',
        '  colour = vec4(clamp(c, 0.0, 1.0), clamp(diffuse.a, 0.0, 1.0));',
        '#endif',
        '}'].join('\n');
    var instancing = webgl.getExtension('ANGLE_instanced_arrays');
    if (!instancing)
        throw new Error("the web layer needs WebGL's ANGLE_instanced_arrays");
    if (!webgl.getExtension('OES_element_index_uint'))
        throw new Error("the web layer needs WebGL's OES_element_index_uint");
    var names = [];
    names[position] = 'position';
    names[normal] = 'normal';
    names[colour] = 'vertexColour';
    names[ambient] = 'ambient';
    names[diffuse] = 'diffuse';
    for (var column = 0; column < 4; column++) names[modelview + column] = 'modelview' + column;
    webgl.frontFace(webgl.CCW);
    webgl.cullFace(webgl.BACK);
    var s = Module.orlemazGl = {
        webgl: webgl, instancing: instancing,
        cull: null, depth: null, // the capabilities as last set
        // The programs by what they are made for (see programFor), and the one in use.
        programs: {}, current: null,
        // The program for lit (with count lights) or unlit drawing, with or without
        // normalized normals, with its uniforms: made the first time it is asked for.
        programFor: function(lighting, count, normalize) {
            var key = lighting ? 2 * count + (normalize ? 1 : 0) : -1;
            var p = s.programs[key];
            if (p) return p;
            var text = '#define LIGHTING ' + (lighting ? 1 : 0) + '\n#define LIGHT_COUNT ' + count +
                       '\n#define NORMALIZE ' + (normalize ? 1 : 0) + '\n' + vertex;
            p = s.programs[key] = {count: count, at: {}};
            p.program = orlemazLinkProgram(webgl, "the web layer's shader", text, names);
            ['projection', 'ambientLight', 'lightDirection', 'lightDiffuse'].forEach(function(name) {
                p.at[name] = webgl.getUniformLocation(p.program, name);
            });
            return p;
        },
        // The meshes' vertices and indices, and the draws' instances, each buffer sized
        // once (and again when it needs more) and written at most once a frame.
        meshVertices: webgl.createBuffer(), meshIndices: webgl.createBuffer(),
        instances: webgl.createBuffer(), capacity: [0, 0, 0],
        // Views of the wasm memory that uploads and uniforms read, kept from frame to
        // frame and made again only when what they cover moves or the memory grows.
        views: [null, null, null], stateViews: null,
        location: {position: position, normal: normal, colour: colour, ambient: ambient,
                   diffuse: diffuse, modelview: modelview},
        vertex: {bytes: vertexBytes, position: vertexPosition, normal: vertexNormal,
                 colour: vertexColour},
        instance: {bytes: instanceBytes, modelview: instanceModelview,
                   ambient: instanceAmbient, diffuse: instanceDiffuse},
        state: {projection: stateProjection, ambientLight: stateAmbientLight,
                lightDirection: stateLightDirection, lightDiffuse: stateLightDiffuse},
    };
    // The mesh attributes point into the meshes' buffer for good: the buffer stays the same
    // object when it grows, and the index buffer stays bound. The instance attributes step
    // once per instance.
    webgl.bindBuffer(webgl.ARRAY_BUFFER, s.meshVertices);
    webgl.bindBuffer(webgl.ELEMENT_ARRAY_BUFFER, s.meshIndices);
    webgl.vertexAttribPointer(position, 3, webgl.FLOAT, false, vertexBytes, vertexPosition);
    webgl.vertexAttribPointer(normal, 3, webgl.FLOAT, false, vertexBytes, vertexNormal);
    webgl.vertexAttribPointer(colour, 4, webgl.UNSIGNED_BYTE, true, vertexBytes, vertexColour);
    [position, normal, colour, ambient, diffuse, modelview, modelview + 1, modelview + 2,
     modelview + 3].forEach(function(l) { webgl.enableVertexAttribArray(l); });
    [ambient, diffuse, modelview, modelview + 1, modelview + 2, modelview + 3]
        .forEach(function(l) { instancing.vertexAttribDivisorANGLE(l, 1); });
    // Fills buffer which (0, 1, 2: meshVertices, meshIndices, instances) from bytes of the
    // wasm memory at at: only bytes from changed on, up to changed + count, unless the
    // buffer has to grow, which leaves it empty, and then all of them.
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

// Puts the program for the state in use (lit with count lights or unlit, normalizing or
// not) and hands it the parts of the state record that changed (projection; lights), or
// all of them when the program is another; sets the capabilities that differ from what
// the context has.
EM_JS(void, webglSetState, (const ShaderState* state, bool projection, bool lights, int count,
                            bool lighting, bool normalize, bool cull, bool depth), {
    var s = Module.orlemazGl, webgl = s.webgl, v = s.stateViews, o = s.state;
    var p = s.programFor(lighting, lighting ? count : 0, lighting && normalize);
    if (p !== s.current) {
        webgl.useProgram(p.program);
        s.current = p;
        projection = lights = true;
    }
    if (!v || v.at !== state || v.count !== p.count || v.projection.buffer !== HEAPF32.buffer) {
        v = s.stateViews = {
            at: state, count: p.count,
            projection: new Float32Array(HEAPF32.buffer, state + o.projection, 16),
            ambientLight: new Float32Array(HEAPF32.buffer, state + o.ambientLight, 4),
            lightDirection: new Float32Array(HEAPF32.buffer, state + o.lightDirection, 3 * p.count),
            lightDiffuse: new Float32Array(HEAPF32.buffer, state + o.lightDiffuse, 4 * p.count),
        };
    }
    if (projection) webgl.uniformMatrix4fv(p.at.projection, false, v.projection);
    if (lights && lighting) {
        webgl.uniform4fv(p.at.ambientLight, v.ambientLight);
        if (p.count > 0) {
            webgl.uniform3fv(p.at.lightDirection, v.lightDirection);
            webgl.uniform4fv(p.at.lightDiffuse, v.lightDiffuse);
        }
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

// Fills the three buffers (the meshes' vertices and indices, the instances) from bytes of
// the wasm memory at each pointer: at most one write each, of the bytes the buffer does not
// hold yet, into a buffer that grows only when it needs more than it holds.
EM_JS(void, webglUpload, (const void* vertices, int vertexBytes, int vertexChanged,
                          int vertexCount, const void* indices, int indexBytes,
                          int indexChanged, int indexCount, const void* instances,
                          int instanceBytes, int instanceChanged, int instanceCount), {
    var s = Module.orlemazGl, webgl = s.webgl;
    s.fill(0, webgl.ARRAY_BUFFER, s.meshVertices, vertices, vertexBytes, vertexChanged,
           vertexCount);
    s.fill(1, webgl.ELEMENT_ARRAY_BUFFER, s.meshIndices, indices, indexBytes, indexChanged,
           indexCount);
    s.fill(2, webgl.ARRAY_BUFFER, s.instances, instances, instanceBytes, instanceChanged,
           instanceCount);
});

// Draws count instances of a mesh, from instance firstInstance of the instance buffer on:
// its triangles' indices from index first, then its lines'.
EM_JS(void, webglDrawMesh, (int first, int triangleIndices, int lineIndices,
                            int firstInstance, int count), {
    var s = Module.orlemazGl, webgl = s.webgl, ext = s.instancing, at = s.location;
    var layout = s.instance, bytes = layout.bytes, base = firstInstance * bytes;
    webgl.bindBuffer(webgl.ARRAY_BUFFER, s.instances);
    webgl.vertexAttribPointer(at.ambient, 4, webgl.FLOAT, false, bytes, base + layout.ambient);
    webgl.vertexAttribPointer(at.diffuse, 4, webgl.FLOAT, false, bytes, base + layout.diffuse);
    for (var column = 0; column < 4; column++)
        webgl.vertexAttribPointer(at.modelview + column, 4, webgl.FLOAT, false, bytes,
                                  base + layout.modelview + column * 16);
    if (triangleIndices > 0)
        ext.drawElementsInstancedANGLE(webgl.TRIANGLES, triangleIndices, webgl.UNSIGNED_INT,
                                       first * 4, count);
    if (lineIndices > 0)
        ext.drawElementsInstancedANGLE(webgl.LINES, lineIndices, webgl.UNSIGNED_INT,
                                       (first + triangleIndices) * 4, count);
});
// clang-format on

EM_JS(void, webglSetViewport, (int x, int y, int width, int height),
      { Module.ctx.viewport(x, y, width, height); });

EM_JS(void, webglClear, (float r, float g, float b, float a, bool colour, bool depth), {
    var webgl = Module.ctx;
    webgl.clearColor(r, g, b, a);
    webgl.clear((colour ? webgl.COLOR_BUFFER_BIT : 0) | (depth ? webgl.DEPTH_BUFFER_BIT : 0));
});

EM_JS(void, webglReadPixels, (int x, int y, int width, int height, unsigned char* out), {
    var webgl = Module.ctx;
    webgl.readPixels(x, y, width, height, webgl.RGBA, webgl.UNSIGNED_BYTE,
                     HEAPU8.subarray(out, out + width * height * 4));
});

// A mesh in the store: a primitive's vertices in object coordinates as drawn, or one of
// GLUT's sphere meshes, with where its vertices and indices lie in the store.
struct Mesh {
    uint64_t key;                     // the hash of what it was made from
    int sphere;                       // the SphereMesh's id, or -1 for a primitive
    GLenum mode;                      // a primitive's mode
    std::vector<ObjectVertex> source; // a primitive's vertices, as glEnd had them
    int firstVertex;
    int vertexCount;
    int firstIndex; // its triangles' indices, then its lines'
    int triangleIndices;
    int lineIndices;
    unsigned lastFrame; // the frame that last drew it
};

// One draw waiting, with the state it was made under.
struct MeshDraw {
    int mesh; // index into BackendState::meshes
    Instance instance;
};

// The draws of one mesh that go in one instanced draw: count instances in a row of
// BackendState::instances from first on.
struct MeshRun {
    int mesh;
    int first;
    int count;
};

// A store with fewer vertices than this keeps what the frames no longer draw.
constexpr size_t STORE_VERTICES_KEPT = 16384;

// What the context holds and what waits for it. Everything drawn until the next change of
// state waits, so that each buffer is written at most once and each mesh's draws go in one
// call. The vectors keep their storage from frame to frame, so that a frame like the last
// is uploaded from the same places.
static struct BackendState {
    bool ready = false;       // whether the context has the program and buffers
    bool stateSent = false;   // whether the context has had the state at all
    unsigned sentVersion = 0; // GlState::stateVersion when the state was last sent
    ShaderState sent = {};    // the state record as last sent (webglSetState reads it here)
    int sentLights = 0;       // how many lights it held
    // The meshes, their vertices and indices (into the store's vertices) one after another,
    // how many of each the context's buffers hold, and the meshes by the hash of their source.
    std::vector<Mesh> meshes;
    std::vector<MeshVertex> vertices;
    std::vector<unsigned> indices;
    size_t sentVertices = 0;
    size_t sentIndices = 0;
    std::unordered_multimap<uint64_t, int> byKey;
    // The frame (counted by clears) and how many vertices the meshes drawn in it hold.
    unsigned frame = 0;
    size_t frameVertices = 0;
    std::vector<MeshDraw> draws;
    std::vector<Instance> instances; // the draws' instances, run by run
    std::vector<MeshRun> runs;
    std::vector<bool> grouped; // draws already in a run
    Pieces pieces;
    // What the instance buffer holds, as bytes: a frame writes only the span where it differs.
    std::vector<unsigned char> heldInstances;
} backend;

// The span of bytes (from changed, count long) where the next bytes of a streamed buffer
// differ from what it holds now, which then holds them.
struct Span {
    int changed;
    int count;
};

static Span changedSpan(std::vector<unsigned char>& held, const void* data, size_t bytes) {
    const unsigned char* next = static_cast<const unsigned char*>(data);
    const size_t common = std::min(held.size(), bytes);
    size_t first = 0;
    while (first < common && next[first] == held[first]) {
        first++;
    }
    size_t end = bytes;
    if (bytes <= held.size()) {
        while (end > first && next[end - 1] == held[end - 1]) {
            end--;
        }
    }
    // Past the bytes written, the buffer is taken to hold nothing known, so that a buffer
    // made again larger (and emptied) is filled whole.
    held.resize(bytes);
    std::copy(next + first, next + end, held.begin() + static_cast<std::ptrdiff_t>(first));
    return {static_cast<int>(first), static_cast<int>(end - first)};
}

// Sets the context up on first use: at the first draw, and at the first after a restore,
// when the store goes to the new buffers whole.
static void ensureReady() {
    if (!backend.ready) {
        webglSetUp(ATTRIBUTE_POSITION, ATTRIBUTE_NORMAL, ATTRIBUTE_COLOUR, ATTRIBUTE_AMBIENT,
                   ATTRIBUTE_DIFFUSE, ATTRIBUTE_MODELVIEW, sizeof(MeshVertex),
                   offsetof(MeshVertex, position), offsetof(MeshVertex, normal),
                   offsetof(MeshVertex, colour), sizeof(Instance), offsetof(Instance, modelview),
                   offsetof(Instance, ambient), offsetof(Instance, diffuse),
                   offsetof(ShaderState, projection), offsetof(ShaderState, ambientLight),
                   offsetof(ShaderState, lightDirection), offsetof(ShaderState, lightDiffuse));
        backend.ready = true;
        backend.stateSent = false;
        backend.sentVertices = 0; // the new buffers hold nothing
        backend.sentIndices = 0;
        backend.heldInstances.clear();
    }
}

// Sends the state a draw reads, if it changed since it was last sent: only the parts that
// differ from what the context has.
static void sendState() {
    ensureReady();
    if (backend.stateSent && backend.sentVersion == gl.stateVersion) {
        return;
    }
    ShaderState state = {};
    std::copy(gl.projection.back().m, gl.projection.back().m + 16, state.projection);
    // Every light's ambient term is the material's ambient times the light's: one sum of
    // the lights' ambient with the scene's is the same product.
    std::copy(gl.lightModelAmbient, gl.lightModelAmbient + 4, state.ambientLight);
    int count = 0;
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
        for (int i = 0; i < 3; i++) {
            state.lightDirection[count][i] = length > 0.0f ? l.position[i] / length : 0.0f;
        }
        for (int i = 0; i < 4; i++) {
            state.ambientLight[i] += l.ambient[i];
        }
        std::copy(l.diffuse, l.diffuse + 4, state.lightDiffuse[count]);
        count++;
    }
    const bool all = !backend.stateSent;
    ShaderState& sent = backend.sent;
    const bool projection =
        all || !std::equal(state.projection, state.projection + 16, sent.projection);
    // The record has no padding: compared as bytes, the lights part is all floats.
    const size_t lightsAt = offsetof(ShaderState, ambientLight);
    const bool lights =
        all || count != backend.sentLights ||
        std::memcmp(reinterpret_cast<const char*>(&state) + lightsAt,
                    reinterpret_cast<const char*>(&sent) + lightsAt, sizeof state - lightsAt) != 0;
    sent = state;
    backend.sentLights = count;
    backend.stateSent = true;
    backend.sentVersion = gl.stateVersion;
    webglSetState(&sent, projection, lights, count, gl.lighting, gl.normalize, gl.cullFace,
                  gl.depthTest);
}

// FNV-1a over 32-bit words: what finds a mesh again by its source.
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

// A new mesh's place at the end of the store, with its vertices and indices still to add.
static Mesh& addMesh(uint64_t key) {
    backend.byKey.emplace(key, static_cast<int>(backend.meshes.size()));
    backend.meshes.push_back({key,
                              -1,
                              0,
                              {},
                              static_cast<int>(backend.vertices.size()),
                              0,
                              static_cast<int>(backend.indices.size()),
                              0,
                              0,
                              0});
    return backend.meshes.back();
}

// The mesh of a primitive's pieces and vertices, made the first time they are drawn; -1 when
// the primitive has nothing to draw.
static int primitiveMesh(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    const size_t bytes = vertices.size() * sizeof(ObjectVertex);
    const uint64_t key =
        hashWords(hashWords(HASH_START, &mode, sizeof mode), vertices.data(), bytes);
    const auto found = backend.byKey.equal_range(key);
    for (auto it = found.first; it != found.second; ++it) {
        const Mesh& m = backend.meshes[it->second];
        if (m.sphere < 0 && m.mode == mode && m.source.size() == vertices.size() &&
            std::memcmp(m.source.data(), vertices.data(), bytes) == 0) {
            return it->second;
        }
    }
    splitPrimitive(mode, static_cast<int>(vertices.size()), backend.pieces);
    if (backend.pieces.triangles.empty() && backend.pieces.lines.empty()) {
        return -1;
    }
    Mesh& m = addMesh(key);
    m.mode = mode;
    m.source = vertices;
    m.vertexCount = static_cast<int>(vertices.size());
    m.triangleIndices = static_cast<int>(backend.pieces.triangles.size());
    m.lineIndices = static_cast<int>(backend.pieces.lines.size());
    for (const ObjectVertex& v : vertices) {
        MeshVertex out = {{v.position[0], v.position[1], v.position[2]},
                          {v.normal[0], v.normal[1], v.normal[2]},
                          {}};
        for (int i = 0; i < 4; i++) {
            const float c = std::min(std::max(v.colour[i], 0.0f), 1.0f);
            out.colour[i] = static_cast<unsigned char>(std::lround(c * 255.0f));
        }
        backend.vertices.push_back(out);
    }
    for (int index : backend.pieces.triangles) {
        backend.indices.push_back(static_cast<unsigned>(m.firstVertex + index));
    }
    for (int index : backend.pieces.lines) {
        backend.indices.push_back(static_cast<unsigned>(m.firstVertex + index));
    }
    return static_cast<int>(backend.meshes.size()) - 1;
}

// The mesh of one of GLUT's spheres, made the first time it is drawn.
static int sphereMesh(const SphereMesh& sphere) {
    const uint64_t key = hashWords(HASH_START ^ 1, &sphere.id, sizeof sphere.id);
    const auto found = backend.byKey.equal_range(key);
    for (auto it = found.first; it != found.second; ++it) {
        if (backend.meshes[it->second].sphere == sphere.id) {
            return it->second;
        }
    }
    Mesh& m = addMesh(key);
    m.sphere = sphere.id;
    m.vertexCount = static_cast<int>(sphere.points.size() / 3);
    m.triangleIndices = static_cast<int>(sphere.faces.size());
    for (int v = 0; v < m.vertexCount; v++) {
        const float* p = &sphere.points[3 * v];
        const float* n = &sphere.normals[3 * v];
        backend.vertices.push_back({{p[0], p[1], p[2]}, {n[0], n[1], n[2]}, {255, 255, 255, 255}});
    }
    for (unsigned short index : sphere.faces) {
        backend.indices.push_back(static_cast<unsigned>(m.firstVertex) + index);
    }
    return static_cast<int>(backend.meshes.size()) - 1;
}

// At the end of a frame: when the meshes it did not draw hold most of the store, the store
// keeps only those it drew, and goes to the context whole with the next draw. A program
// whose vertices change from frame to frame adds a mesh a frame, and so sends its store
// again every so many frames, not its vertices every frame.
static void endFrame() {
    const size_t stored = backend.vertices.size();
    if (stored > STORE_VERTICES_KEPT && stored > 2 * backend.frameVertices) {
        std::vector<Mesh> kept;
        std::vector<MeshVertex> vertices;
        std::vector<unsigned> indices;
        backend.byKey.clear();
        for (Mesh& m : backend.meshes) {
            if (m.lastFrame != backend.frame) {
                continue;
            }
            const int firstVertex = static_cast<int>(vertices.size());
            const int firstIndex = static_cast<int>(indices.size());
            const auto v = backend.vertices.begin() + m.firstVertex;
            vertices.insert(vertices.end(), v, v + m.vertexCount);
            const int count = m.triangleIndices + m.lineIndices;
            for (int i = 0; i < count; i++) {
                indices.push_back(backend.indices[m.firstIndex + i] - m.firstVertex + firstVertex);
            }
            m.firstVertex = firstVertex;
            m.firstIndex = firstIndex;
            backend.byKey.emplace(m.key, static_cast<int>(kept.size()));
            kept.push_back(std::move(m));
        }
        backend.meshes = std::move(kept);
        backend.vertices = std::move(vertices);
        backend.indices = std::move(indices);
        backend.sentVertices = 0;
        backend.sentIndices = 0;
    }
    backend.frame++;
    backend.frameVertices = 0;
}

// Lays the waiting draws out as runs that each go in one call, and their instances in a row
// for one upload: with the depth test on, the draws of
// one mesh together, in the order each mesh was first drawn; without it, in the order drawn.
static void groupDraws() {
    backend.instances.clear();
    backend.runs.clear();
    backend.grouped.assign(backend.draws.size(), false);
    for (size_t i = 0; i < backend.draws.size(); i++) {
        if (backend.grouped[i]) {
            continue;
        }
        const int mesh = backend.draws[i].mesh;
        MeshRun run = {mesh, static_cast<int>(backend.instances.size()), 0};
        for (size_t k = i; k < backend.draws.size(); k++) {
            if (backend.grouped[k] || backend.draws[k].mesh != mesh) {
                if (gl.depthTest) {
                    continue;
                }
                break;
            }
            backend.grouped[k] = true;
            backend.instances.push_back(backend.draws[k].instance);
            run.count++;
        }
        backend.runs.push_back(run);
    }
}

// Draws everything waiting under the state it waited under, after one upload of what the
// store has added since the last and of the instances.
static void flushDraws() {
    if (backend.draws.empty()) {
        return;
    }
    sendState();
    groupDraws();
    const size_t vertexBytes = backend.vertices.size() * sizeof(MeshVertex);
    const size_t indexBytes = backend.indices.size() * sizeof(unsigned);
    const size_t instanceBytes = backend.instances.size() * sizeof(Instance);
    const size_t vertexSent = backend.sentVertices * sizeof(MeshVertex);
    const size_t indexSent = backend.sentIndices * sizeof(unsigned);
    const Span instances =
        changedSpan(backend.heldInstances, backend.instances.data(), instanceBytes);
    webglUpload(backend.vertices.data(), static_cast<int>(vertexBytes),
                static_cast<int>(vertexSent), static_cast<int>(vertexBytes - vertexSent),
                backend.indices.data(), static_cast<int>(indexBytes), static_cast<int>(indexSent),
                static_cast<int>(indexBytes - indexSent), backend.instances.data(),
                static_cast<int>(instanceBytes), instances.changed, instances.count);
    backend.sentVertices = backend.vertices.size();
    backend.sentIndices = backend.indices.size();
    for (const MeshRun& run : backend.runs) {
        const Mesh& m = backend.meshes[run.mesh];
        webglDrawMesh(m.firstIndex, m.triangleIndices, m.lineIndices, run.first, run.count);
    }
    backend.draws.clear();
}

// Queues a draw of a mesh under the current modelview and material; unlit, its colour is
// the mesh's own times diffuse.
static void queueDraw(int mesh, const float diffuse[4]) {
    Mesh& m = backend.meshes[mesh];
    if (m.lastFrame != backend.frame) {
        m.lastFrame = backend.frame;
        backend.frameVertices += m.vertexCount;
    }
    MeshDraw d = {mesh, {}};
    std::copy(gl.modelview.back().m, gl.modelview.back().m + 16, d.instance.modelview);
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
    webglClear(gl.clearColour[0], gl.clearColour[1], gl.clearColour[2], gl.clearColour[3],
               (mask & GL_COLOR_BUFFER_BIT) != 0, (mask & GL_DEPTH_BUFFER_BIT) != 0);
}

const GeometrySink WEBGL_SINK = {queuePrimitive, queueSphere, alwaysReached, clearBuffers,
                                 flushDraws};

void webglViewport() {
    ensureReady();
    webglSetViewport(gl.viewport[0], gl.viewport[1], gl.viewport[2], gl.viewport[3]);
}

// The browser gave back a lost context, empty: the layer sets it up again, as at the start,
// and gives it the viewport; the rest of the state and the meshes go with the next draw.
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
