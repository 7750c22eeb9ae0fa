// The WebGL back end: the sink of ordinary frames. One program transforms and lights every
// vertex in its vertex shader from the fixed-function state (the matrices, the lights in
// eye coordinates, the front material, the scene's ambient light, GL_NORMALIZE), as
// OpenGL's per-vertex lighting does. GLUT's spheres are drawn from buffers filled once,
// those of one mesh in one instanced draw; immediate-mode primitives are gathered, in eye
// coordinates, into one batch. The draws wait until a clear, glFlush or a change of the
// state they were made under, and then go with one filling of the batch's buffers.
#include "web/gl_layer.h"

#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

// The contract between this file and the JavaScript below, declared once here: the
// shader's attribute locations, the layouts of a batch vertex, a sphere instance and the
// state record, all handed to webglSetUp as numbers, which the JavaScript reads by name.
enum Attribute {
    ATTRIBUTE_POSITION,
    ATTRIBUTE_NORMAL,
    ATTRIBUTE_AMBIENT,
    ATTRIBUTE_DIFFUSE,
    ATTRIBUTE_MODELVIEW, // four locations, a column each
};

// One vertex of the batch, in eye coordinates, with the front material (unlit: its diffuse
// is the vertex's colour).
struct BatchVertex {
    float position[3];
    float normal[3];
    float ambient[4];
    float diffuse[4];
};
constexpr size_t MAX_BATCH_VERTICES = 65536; // what 16-bit indices reach

// One sphere drawn: the modelview's four columns and the material (unlit: the current
// colour as its diffuse).
struct SphereInstance {
    float modelview[16];
    float ambient[4];
    float diffuse[4];
};

// What a draw reads besides its vertices: the uniforms of the shader.
struct ShaderState {
    float projection[16];
    float sceneAmbient[4];
    float lightDirection[LIGHT_COUNT][3]; // the enabled lights first, unit vectors in eye space
    float lightAmbient[LIGHT_COUNT][4];
    float lightDiffuse[LIGHT_COUNT][4];
};

// Compiles the program and makes the batch's buffers in the context of the window GLUT
// made (Module.ctx); keeps them in Module.orlemazGl, whose sphere meshes start empty and
// are filled as each is first drawn. Run at the first draw and again when a lost context
// comes back, since nothing made in the old one survives. A shader that does not compile,
// or a WebGL without instanced drawing, stops the page with a message.
// clang-format off
EM_JS(void, webglSetUp, (int maxLights, int position, int normal, int ambient, int diffuse,
                         int modelview, int vertexBytes, int vertexPosition, int vertexNormal,
                         int vertexAmbient, int vertexDiffuse, int instanceBytes,
                         int instanceModelview, int instanceAmbient, int instanceDiffuse,
                         int stateProjection, int stateSceneAmbient, int stateLightDirection,
                         int stateLightAmbient, int stateLightDiffuse), {
    var webgl = Module.ctx;
    // The modelview comes as four columns: constant for the batch (already in eye
    // coordinates), one per instance for spheres. Its cofactors carry normals.
    var vertex = [
        'attribute vec3 position; attribute vec3 normal;',
        'attribute vec4 ambient; attribute vec4 diffuse;',
        'attribute vec4 modelview0; attribute vec4 modelview1;',
        'attribute vec4 modelview2; attribute vec4 modelview3;',
        'uniform mat4 projection;',
        'uniform bool lighting; uniform bool normalizeNormals; uniform int lightCount;',
        'uniform vec4 sceneAmbient; uniform vec3 lightDirection[' + maxLights + '];',
        'uniform vec4 lightAmbient[' + maxLights + ']; uniform vec4 lightDiffuse[' + maxLights + '];',
        'varying vec4 colour;',
        'void main() {',
        '  mat4 modelview = mat4(modelview0, modelview1, modelview2, modelview3);',
        '  gl_Position = projection * (modelview * vec4(position, 1.0));',
        '  if (!lighting) { colour = diffuse; return; }',
        '  vec3 c0 = modelview0.xyz, c1 = modelview1.xyz, c2 = modelview2.xyz;',
        '  vec3 x = cross(c1, c2);',
        '  float det = dot(c0, x);',
        '  vec3 n = det != 0.0 ? mat3(x, cross(c2, c0), cross(c0, c1)) * normal / det : vec3(0.0);',
        '  if (normalizeNormals && dot(n, n) > 0.0) n = normalize(n);',
        '  vec3 c = sceneAmbient.rgb * ambient.rgb;',
        '  for (int i = 0; i < ' + maxLights + '; i++) {',
        '    if (i >= lightCount) break;',
        '    c += lightAmbient[i].rgb * ambient.rgb +',
        '         max(dot(n, lightDirection[i]), 0.0) * lightDiffuse[i].rgb * diffuse.rgb;',
        '  }',
        '  colour = vec4(clamp(c, 0.0, 1.0), clamp(diffuse.a, 0.0, 1.0));',
        '}'].join('\n');
    var instancing = webgl.getExtension('ANGLE_instanced_arrays');
    if (!instancing)
        throw new Error("the web layer needs WebGL's ANGLE_instanced_arrays");
    var names = [];
    names[position] = 'position';
    names[normal] = 'normal';
    names[ambient] = 'ambient';
    names[diffuse] = 'diffuse';
    for (var column = 0; column < 4; column++) names[modelview + column] = 'modelview' + column;
    var program = orlemazLinkProgram(webgl, "the web layer's shader", vertex, names);
    var at = {};
    ['projection', 'lighting', 'normalizeNormals', 'lightCount', 'sceneAmbient',
     'lightDirection', 'lightAmbient', 'lightDiffuse']
        .forEach(function(name) { at[name] = webgl.getUniformLocation(program, name); });
    webgl.enableVertexAttribArray(position);
    webgl.enableVertexAttribArray(normal);
    webgl.frontFace(webgl.CCW);
    webgl.cullFace(webgl.BACK);
    Module.orlemazGl = {
        webgl: webgl, at: at, instancing: instancing, meshes: [],
        mode: null, // what the attributes point at: 'batch', 'spheres' or nothing yet
        cull: null, depth: null, // the capabilities as last set
        lighting: null, normalize: null, // the shader's flags as last set
        // The buffers the frame streams through, each sized once (and again when a frame
        // needs more) and written at most once a frame, with the bytes each holds.
        batchVertices: webgl.createBuffer(), batchIndices: webgl.createBuffer(),
        instances: webgl.createBuffer(), capacity: [0, 0, 0],
        // Views of the wasm memory that uploads and uniforms read, kept from frame to
        // frame and made again only when what they cover moves or the memory grows.
        views: [null, null, null], stateViews: null,
        location: {position: position, normal: normal, ambient: ambient, diffuse: diffuse,
                   modelview: modelview},
        vertex: {bytes: vertexBytes, position: vertexPosition, normal: vertexNormal,
                 ambient: vertexAmbient, diffuse: vertexDiffuse},
        instance: {bytes: instanceBytes, modelview: instanceModelview,
                   ambient: instanceAmbient, diffuse: instanceDiffuse},
        state: {projection: stateProjection, sceneAmbient: stateSceneAmbient,
                lightDirection: stateLightDirection, lightAmbient: stateLightAmbient,
                lightDiffuse: stateLightDiffuse},
    };
    // Fills streamed buffer which (0, 1, 2: batchVertices, batchIndices, instances) from
    // bytes of the wasm memory at at: only bytes from changed on, up to changed + count,
    // unless the buffer has to grow, which leaves it empty, and then all of them.
    var s = Module.orlemazGl;
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

// Hands the shader the parts of the state record that changed (projection; lights: the
// scene's ambient light and the enabled lights), and the flags and capabilities that differ
// from what the context has.
EM_JS(void, webglSetState, (const ShaderState* state, bool projection, bool lights, int count,
                            int maxLights,
                            bool lighting, bool normalize, bool cull, bool depth), {
    var s = Module.orlemazGl, webgl = s.webgl, at = s.at, v = s.stateViews, o = s.state;
    if (!v || v.at !== state || v.projection.buffer !== HEAPF32.buffer) {
        v = s.stateViews = {
            at: state,
            projection: new Float32Array(HEAPF32.buffer, state + o.projection, 16),
            sceneAmbient: new Float32Array(HEAPF32.buffer, state + o.sceneAmbient, 4),
            lightDirection: new Float32Array(HEAPF32.buffer, state + o.lightDirection, 3 * maxLights),
            lightAmbient: new Float32Array(HEAPF32.buffer, state + o.lightAmbient, 4 * maxLights),
            lightDiffuse: new Float32Array(HEAPF32.buffer, state + o.lightDiffuse, 4 * maxLights),
        };
    }
    if (projection) webgl.uniformMatrix4fv(at.projection, false, v.projection);
    if (lights) {
        webgl.uniform4fv(at.sceneAmbient, v.sceneAmbient);
        webgl.uniform3fv(at.lightDirection, v.lightDirection);
        webgl.uniform4fv(at.lightAmbient, v.lightAmbient);
        webgl.uniform4fv(at.lightDiffuse, v.lightDiffuse);
        webgl.uniform1i(at.lightCount, count);
    }
    if (s.lighting !== lighting) {
        webgl.uniform1i(at.lighting, lighting);
        s.lighting = lighting;
    }
    if (s.normalize !== normalize) {
        webgl.uniform1i(at.normalizeNormals, normalize);
        s.normalize = normalize;
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

// Fills the frame's three streamed buffers (the batch's vertices and indices, the spheres'
// instances) from bytes of the wasm memory at each pointer: at most one write each, of the
// bytes that differ from what the buffer holds, into a buffer that grows only when a frame
// needs more than it holds.
EM_JS(void, webglUpload, (const void* vertices, int vertexBytes, int vertexChanged,
                          int vertexCount, const void* indices, int indexBytes,
                          int indexChanged, int indexCount, const void* instances,
                          int instanceBytes, int instanceChanged, int instanceCount), {
    var s = Module.orlemazGl, webgl = s.webgl;
    s.fill(0, webgl.ARRAY_BUFFER, s.batchVertices, vertices, vertexBytes, vertexChanged,
           vertexCount);
    s.fill(1, webgl.ELEMENT_ARRAY_BUFFER, s.batchIndices, indices, indexBytes, indexChanged,
           indexCount);
    s.fill(2, webgl.ARRAY_BUFFER, s.instances, instances, instanceBytes, instanceChanged,
           instanceCount);
});

// Draws part of the batch: from index first, its triangles' indices then its lines'. The
// attributes are pointed into the batch before its first part after spheres: constant
// columns of the identity for the modelview, the batch being in eye coordinates already.
// Its buffers stay the same objects when they are filled, so the pointers hold.
EM_JS(void, webglDrawBatch, (int first, int triangleIndices, int lineIndices), {
    var s = Module.orlemazGl, webgl = s.webgl, ext = s.instancing, at = s.location;
    if (s.mode !== 'batch') {
        var layout = s.vertex, bytes = layout.bytes;
        webgl.bindBuffer(webgl.ARRAY_BUFFER, s.batchVertices);
        webgl.bindBuffer(webgl.ELEMENT_ARRAY_BUFFER, s.batchIndices);
        webgl.vertexAttribPointer(at.position, 3, webgl.FLOAT, false, bytes, layout.position);
        webgl.vertexAttribPointer(at.normal, 3, webgl.FLOAT, false, bytes, layout.normal);
        webgl.vertexAttribPointer(at.ambient, 4, webgl.FLOAT, false, bytes, layout.ambient);
        webgl.vertexAttribPointer(at.diffuse, 4, webgl.FLOAT, false, bytes, layout.diffuse);
        ext.vertexAttribDivisorANGLE(at.ambient, 0);
        ext.vertexAttribDivisorANGLE(at.diffuse, 0);
        webgl.enableVertexAttribArray(at.ambient);
        webgl.enableVertexAttribArray(at.diffuse);
        for (var column = 0; column < 4; column++) {
            webgl.disableVertexAttribArray(at.modelview + column);
            webgl.vertexAttrib4f(at.modelview + column, column == 0 ? 1 : 0, column == 1 ? 1 : 0,
                                 column == 2 ? 1 : 0, column == 3 ? 1 : 0);
        }
        s.mode = 'batch';
    }
    if (triangleIndices > 0)
        webgl.drawElements(webgl.TRIANGLES, triangleIndices, webgl.UNSIGNED_SHORT, first * 2);
    if (lineIndices > 0)
        webgl.drawElements(webgl.LINES, lineIndices, webgl.UNSIGNED_SHORT,
                           (first + triangleIndices) * 2);
});

// Draws count spheres of mesh id (its buffers filled from points, normals and faces the
// first time), from the uploaded instances starting at firstInstance.
EM_JS(void, webglDrawSpheres,
      (int id, const float* points, const float* normals, int pointCount,
       const unsigned short* faces, int faceIndices, int firstInstance, int count), {
    var s = Module.orlemazGl, webgl = s.webgl, ext = s.instancing, at = s.location;
    var mesh = s.meshes[id];
    // The points, then the normals, in one buffer.
    var pointBytes = pointCount * 3 * 4;
    if (!mesh) {
        mesh = s.meshes[id] = {vertices: webgl.createBuffer(), indices: webgl.createBuffer()};
        webgl.bindBuffer(webgl.ARRAY_BUFFER, mesh.vertices);
        webgl.bufferData(webgl.ARRAY_BUFFER, 2 * pointBytes, webgl.STATIC_DRAW);
        webgl.bufferSubData(webgl.ARRAY_BUFFER, 0, HEAPU8.subarray(points, points + pointBytes));
        webgl.bufferSubData(webgl.ARRAY_BUFFER, pointBytes,
                            HEAPU8.subarray(normals, normals + pointBytes));
        webgl.bindBuffer(webgl.ELEMENT_ARRAY_BUFFER, mesh.indices);
        webgl.bufferData(webgl.ELEMENT_ARRAY_BUFFER,
                         HEAPU16.subarray(faces >> 1, (faces >> 1) + faceIndices), webgl.STATIC_DRAW);
    }
    if (s.mode !== 'spheres') {
        for (var column = 0; column < 4; column++) {
            ext.vertexAttribDivisorANGLE(at.modelview + column, 1);
            webgl.enableVertexAttribArray(at.modelview + column);
        }
        ext.vertexAttribDivisorANGLE(at.ambient, 1);
        ext.vertexAttribDivisorANGLE(at.diffuse, 1);
        webgl.enableVertexAttribArray(at.ambient);
        webgl.enableVertexAttribArray(at.diffuse);
        s.mode = 'spheres';
    }
    webgl.bindBuffer(webgl.ARRAY_BUFFER, mesh.vertices);
    webgl.bindBuffer(webgl.ELEMENT_ARRAY_BUFFER, mesh.indices);
    webgl.vertexAttribPointer(at.position, 3, webgl.FLOAT, false, 0, 0);
    webgl.vertexAttribPointer(at.normal, 3, webgl.FLOAT, false, 0, pointBytes);
    var layout = s.instance, bytes = layout.bytes, base = firstInstance * bytes;
    webgl.bindBuffer(webgl.ARRAY_BUFFER, s.instances);
    webgl.vertexAttribPointer(at.ambient, 4, webgl.FLOAT, false, bytes, base + layout.ambient);
    webgl.vertexAttribPointer(at.diffuse, 4, webgl.FLOAT, false, bytes, base + layout.diffuse);
    for (var column = 0; column < 4; column++)
        webgl.vertexAttribPointer(at.modelview + column, 4, webgl.FLOAT, false, bytes,
                                  base + layout.modelview + column * 16);
    ext.drawElementsInstancedANGLE(webgl.TRIANGLES, faceIndices, webgl.UNSIGNED_SHORT, 0, count);
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

// A sphere waiting to be drawn, with the state it was drawn under.
struct SphereDraw {
    const SphereMesh* mesh;
    SphereInstance instance;
};

// One draw waiting, in the frame's order: a part of the batch or a sphere.
struct DrawCommand {
    int sphere;          // index into BackendState::spheres, or -1 for a part of the batch
    int first;           // the part's first index
    int triangleIndices; // then its triangles' indices
    int lineIndices;     // then its lines'
};

// Spheres of one mesh drawn in one instanced draw, from count instances in a row of
// BackendState::instances.
struct SphereRun {
    const SphereMesh* mesh;
    int first;
    int count;
};

// What waits for WebGL, and what it was last sent. Everything drawn until the next change
// of state waits, so that the batch's buffers are filled once and each mesh's spheres go
// in one draw. The vectors keep their storage from frame to frame, so that a frame like
// the last is uploaded from the same places.
static struct BackendState {
    bool ready = false;       // whether the context has the program and buffers
    bool stateSent = false;   // whether the context has had the state at all
    unsigned sentVersion = 0; // GlState::stateVersion when the state was last sent
    ShaderState sent = {};    // the state record as last sent (webglSetState reads it here)
    int sentLights = 0;       // how many lights it held
    int lastPart = -1;        // index into commands of the last part of the batch, or -1
    std::vector<BatchVertex> vertices;
    std::vector<unsigned short> indices;   // the closed parts' indices
    std::vector<unsigned short> triangles; // the open part's
    std::vector<unsigned short> lines;     // the open part's
    std::vector<SphereDraw> spheres;
    std::vector<DrawCommand> commands;
    std::vector<SphereInstance> instances; // the spheres', in the order they are drawn
    std::vector<SphereRun> runs;
    std::vector<bool> grouped; // spheres already in a run
    Pieces pieces;
    // What each streamed buffer holds (batch vertices, batch indices, instances), as bytes:
    // a frame writes only the span where it differs.
    std::vector<unsigned char> held[3];
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

// Sets the context up on first use: at the first draw, and at the first after a restore.
static void ensureReady() {
    if (!backend.ready) {
        webglSetUp(LIGHT_COUNT, ATTRIBUTE_POSITION, ATTRIBUTE_NORMAL, ATTRIBUTE_AMBIENT,
                   ATTRIBUTE_DIFFUSE, ATTRIBUTE_MODELVIEW, sizeof(BatchVertex),
                   offsetof(BatchVertex, position), offsetof(BatchVertex, normal),
                   offsetof(BatchVertex, ambient), offsetof(BatchVertex, diffuse),
                   sizeof(SphereInstance), offsetof(SphereInstance, modelview),
                   offsetof(SphereInstance, ambient), offsetof(SphereInstance, diffuse),
                   offsetof(ShaderState, projection), offsetof(ShaderState, sceneAmbient),
                   offsetof(ShaderState, lightDirection), offsetof(ShaderState, lightAmbient),
                   offsetof(ShaderState, lightDiffuse));
        backend.ready = true;
        backend.stateSent = false;
        for (std::vector<unsigned char>& held : backend.held) {
            held.clear(); // the new buffers hold nothing
        }
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
    std::copy(gl.lightModelAmbient, gl.lightModelAmbient + 4, state.sceneAmbient);
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
        std::copy(l.ambient, l.ambient + 4, state.lightAmbient[count]);
        std::copy(l.diffuse, l.diffuse + 4, state.lightDiffuse[count]);
        count++;
    }
    const bool all = !backend.stateSent;
    ShaderState& sent = backend.sent;
    const bool projection =
        all || !std::equal(state.projection, state.projection + 16, sent.projection);
    // The record has no padding: compared as bytes, the lights part is all floats.
    const size_t lightsAt = offsetof(ShaderState, sceneAmbient);
    const bool lights =
        all || count != backend.sentLights ||
        std::memcmp(reinterpret_cast<const char*>(&state) + lightsAt,
                    reinterpret_cast<const char*>(&sent) + lightsAt, sizeof state - lightsAt) != 0;
    sent = state;
    backend.sentLights = count;
    backend.stateSent = true;
    backend.sentVersion = gl.stateVersion;
    webglSetState(&sent, projection, lights, count, LIGHT_COUNT, gl.lighting, gl.normalize,
                  gl.cullFace, gl.depthTest);
}

// Closes the batch's open part: its indices join the closed parts' and its draw waits. A
// part that follows one with no lines, with nothing drawn between them that the depth test
// does not order, joins that part's draw: the same indices in the same order, one call.
static void closePart() {
    if (backend.triangles.empty() && backend.lines.empty()) {
        return;
    }
    const int triangles = static_cast<int>(backend.triangles.size());
    const int lines = static_cast<int>(backend.lines.size());
    const bool nothingBetween =
        backend.lastPart == static_cast<int>(backend.commands.size()) - 1 || gl.depthTest;
    if (backend.lastPart >= 0 && nothingBetween &&
        backend.commands[backend.lastPart].lineIndices == 0) {
        DrawCommand& last = backend.commands[backend.lastPart];
        last.triangleIndices += triangles;
        last.lineIndices = lines;
    } else {
        backend.lastPart = static_cast<int>(backend.commands.size());
        backend.commands.push_back(
            {-1, static_cast<int>(backend.indices.size()), triangles, lines});
    }
    backend.indices.insert(backend.indices.end(), backend.triangles.begin(),
                           backend.triangles.end());
    backend.indices.insert(backend.indices.end(), backend.lines.begin(), backend.lines.end());
    backend.triangles.clear();
    backend.lines.clear();
}

// Lays the waiting spheres' instances out for one upload, as runs that each go in one
// instanced draw: with the depth test on, those of one mesh together, in the order each
// mesh was first drawn; without it, in the order drawn.
static void groupSpheres() {
    backend.instances.clear();
    backend.runs.clear();
    backend.grouped.assign(backend.spheres.size(), false);
    for (size_t i = 0; i < backend.spheres.size(); i++) {
        if (backend.grouped[i]) {
            continue;
        }
        const SphereMesh* mesh = backend.spheres[i].mesh;
        SphereRun run = {mesh, static_cast<int>(backend.instances.size()), 0};
        for (size_t k = i; k < backend.spheres.size() && (k == i || gl.depthTest); k++) {
            if (!backend.grouped[k] && backend.spheres[k].mesh == mesh) {
                backend.grouped[k] = true;
                backend.instances.push_back(backend.spheres[k].instance);
                run.count++;
            }
        }
        backend.runs.push_back(run);
    }
}

static void drawRun(const SphereRun& run) {
    const SphereMesh& mesh = *run.mesh;
    webglDrawSpheres(mesh.id, mesh.points.data(), mesh.normals.data(),
                     static_cast<int>(mesh.points.size() / 3), mesh.faces.data(),
                     static_cast<int>(mesh.faces.size()), run.first, run.count);
}

// Draws everything waiting under the state it waited under, after one upload of the
// batch and the instances. With the depth test on, the batch goes first and the spheres
// after it, grouped by mesh: the picture differs only where two surfaces meet at the very
// same depth. Without it, in the order drawn.
static void flushDraws() {
    closePart();
    if (backend.commands.empty()) {
        return;
    }
    sendState();
    groupSpheres();
    const size_t vertexBytes = backend.vertices.size() * sizeof(BatchVertex);
    const size_t indexBytes = backend.indices.size() * sizeof(unsigned short);
    const size_t instanceBytes = backend.instances.size() * sizeof(SphereInstance);
    const Span vertices = changedSpan(backend.held[0], backend.vertices.data(), vertexBytes);
    const Span indices = changedSpan(backend.held[1], backend.indices.data(), indexBytes);
    const Span instances = changedSpan(backend.held[2], backend.instances.data(), instanceBytes);
    webglUpload(backend.vertices.data(), static_cast<int>(vertexBytes), vertices.changed,
                vertices.count, backend.indices.data(), static_cast<int>(indexBytes),
                indices.changed, indices.count, backend.instances.data(),
                static_cast<int>(instanceBytes), instances.changed, instances.count);
    size_t run = 0;
    for (const DrawCommand& c : backend.commands) {
        if (c.sphere < 0) {
            webglDrawBatch(c.first, c.triangleIndices, c.lineIndices);
        } else if (!gl.depthTest) {
            drawRun(backend.runs[run++]);
        }
    }
    for (; run < backend.runs.size(); run++) {
        drawRun(backend.runs[run]);
    }
    backend.vertices.clear();
    backend.indices.clear();
    backend.spheres.clear();
    backend.commands.clear();
    backend.lastPart = -1;
}

// The column-major normal matrix of the current modelview, as the shader takes it.
static void currentNormalMatrix(float out[9]) {
    float rows[9] = {};
    normalMatrix(gl.modelview.back(), rows);
    for (int row = 0; row < 3; row++) {
        for (int column = 0; column < 3; column++) {
            out[column * 3 + row] = rows[row * 3 + column];
        }
    }
}

// Appends one vertex in eye coordinates, with the material current now.
static void appendVertex(const ObjectVertex& v, const float normals[9]) {
    const float position[4] = {v.position[0], v.position[1], v.position[2], 1.0f};
    float eye[4] = {};
    transformPoint(gl.modelview.back(), position, eye);
    BatchVertex out = {{eye[0], eye[1], eye[2]}, {}, {}, {}};
    for (int row = 0; row < 3; row++) {
        out.normal[row] = normals[row] * v.normal[0] + normals[3 + row] * v.normal[1] +
                          normals[6 + row] * v.normal[2];
    }
    const float* diffuse = gl.lighting ? gl.materialDiffuse : v.colour;
    std::copy(gl.materialAmbient, gl.materialAmbient + 4, out.ambient);
    std::copy(diffuse, diffuse + 4, out.diffuse);
    backend.vertices.push_back(out);
}

// Queues one glBegin/glEnd primitive in the batch, its vertices in eye coordinates.
static void queuePrimitive(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    splitPrimitive(mode, static_cast<int>(vertices.size()), backend.pieces);
    if (backend.vertices.size() + vertices.size() > MAX_BATCH_VERTICES) {
        flushDraws();
    }
    float normals[9] = {};
    currentNormalMatrix(normals);
    const size_t first = backend.vertices.size();
    for (const ObjectVertex& v : vertices) {
        appendVertex(v, normals);
    }
    for (int index : backend.pieces.triangles) {
        backend.triangles.push_back(static_cast<unsigned short>(first + index));
    }
    for (int index : backend.pieces.lines) {
        backend.lines.push_back(static_cast<unsigned short>(first + index));
    }
}

// Queues one of GLUT's spheres as an instance of its mesh.
static void queueSphere(const SphereMesh& mesh) {
    closePart();
    SphereDraw d = {&mesh, {}};
    const float* diffuse = gl.lighting ? gl.materialDiffuse : gl.colour;
    std::copy(gl.modelview.back().m, gl.modelview.back().m + 16, d.instance.modelview);
    std::copy(gl.materialAmbient, gl.materialAmbient + 4, d.instance.ambient);
    std::copy(diffuse, diffuse + 4, d.instance.diffuse);
    backend.commands.push_back({static_cast<int>(backend.spheres.size()), 0, 0, 0});
    backend.spheres.push_back(d);
}

static bool alwaysReached(const Bounds&) {
    return true;
}

static void clearBuffers(GLbitfield mask) {
    flushDraws();
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
// and gives it the viewport; the rest of the state goes with the next draw, and each
// sphere mesh is filled again as it is next drawn.
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
