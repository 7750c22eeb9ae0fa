// The WebGL back end: the sink of ordinary frames. One program transforms and lights every
// vertex in its vertex shader from the fixed-function state (the matrices, the lights in
// eye coordinates, the front material, the scene's ambient light, GL_NORMALIZE), as
// OpenGL's per-vertex lighting does. GLUT's spheres are drawn from buffers filled once,
// those of one mesh in one instanced draw; immediate-mode primitives are gathered, in eye
// coordinates, into one batch. The draws wait until a clear, glFlush or a change of the
// state they were made under, and then go with one filling of the batch's buffers.
#include "web/gl_layer.h"

#include <emscripten.h>

#include <cmath>

// Each batch vertex: eye x, y, z; eye normal x, y, z; the front material's ambient r, g, b,
// a; its diffuse r, g, b, a (unlit: the vertex's colour).
constexpr int BATCH_FLOATS = 14;
constexpr size_t MAX_BATCH_VERTICES = 65536; // what 16-bit indices reach

// Compiles the program and makes the batch's buffers in the context of the window GLUT
// made (Module.ctx); keeps them in Module.orlemazGl, whose sphere meshes start empty and
// are filled as each is first drawn. Run at the first draw and again when a lost context
// comes back, since nothing made in the old one survives. A shader that does not compile,
// or a WebGL without instanced drawing, stops the page with a message.
// clang-format off
EM_JS(void, webglSetUp, (int maxLights), {
    var gl = Module['ctx'];
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
    var instancing = gl.getExtension('ANGLE_instanced_arrays');
    if (!instancing)
        throw new Error("the web layer needs WebGL's ANGLE_instanced_arrays");
    var program = orlemazLinkProgram(gl, "the web layer's shader", vertex,
        ['position', 'normal', 'ambient', 'diffuse', 'modelview0', 'modelview1',
         'modelview2', 'modelview3']);
    var at = {};
    ['projection', 'lighting', 'normalizeNormals', 'lightCount', 'sceneAmbient',
     'lightDirection', 'lightAmbient', 'lightDiffuse']
        .forEach(function(name) { at[name] = gl.getUniformLocation(program, name); });
    gl.enableVertexAttribArray(0);
    gl.enableVertexAttribArray(1);
    gl.frontFace(gl.CCW);
    gl.cullFace(gl.BACK);
    Module['orlemazGl'] = {
        gl: gl, at: at, instancing: instancing, meshes: [],
        bound: -2, // -1: the batch, n: mesh n, -2: nothing yet
        batchVertices: gl.createBuffer(), batchIndices: gl.createBuffer(),
        instances: gl.createBuffer(),
    };
});
// clang-format on

EM_JS(void, webglSetState,
      (const float* state, int count, int maxLights, bool lighting, bool normalize, bool cull,
       bool depth),
      {
          var s = Module['orlemazGl'], gl = s.gl, at = s.at, f = state >> 2;
          gl.uniformMatrix4fv(at.projection, false, HEAPF32.subarray(f, f + 16));
          gl.uniform4fv(at.sceneAmbient, HEAPF32.subarray(f + 16, f + 20));
          f += 20;
          gl.uniform3fv(at.lightDirection, HEAPF32.subarray(f, f + 3 * maxLights));
          f += 3 * maxLights;
          gl.uniform4fv(at.lightAmbient, HEAPF32.subarray(f, f + 4 * maxLights));
          f += 4 * maxLights;
          gl.uniform4fv(at.lightDiffuse, HEAPF32.subarray(f, f + 4 * maxLights));
          gl.uniform1i(at.lightCount, count);
          gl.uniform1i(at.lighting, lighting);
          gl.uniform1i(at.normalizeNormals, normalize);
          if (cull)
              gl.enable(gl.CULL_FACE);
          else
              gl.disable(gl.CULL_FACE);
          if (depth)
              gl.enable(gl.DEPTH_TEST);
          else
              gl.disable(gl.DEPTH_TEST);
      });

// Fills the batch's buffers: count vertices, and the indices of its pieces.
// clang-format off
EM_JS(void, webglUploadBatch,
      (const float* vertices, int count, const unsigned short* indices, int indexCount), {
    var s = Module['orlemazGl'], gl = s.gl;
    gl.bindBuffer(gl.ARRAY_BUFFER, s.batchVertices);
    gl.bufferData(gl.ARRAY_BUFFER, HEAPF32.subarray(vertices >> 2, (vertices >> 2) + count * 14),
                  gl.STREAM_DRAW);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, s.batchIndices);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER,
                  HEAPU16.subarray(indices >> 1, (indices >> 1) + indexCount), gl.STREAM_DRAW);
    s.bound = -2;
});

// Draws part of the batch: from index first, its triangles' indices then its lines'.
EM_JS(void, webglDrawBatch, (int first, int triangleIndices, int lineIndices), {
    var s = Module['orlemazGl'], gl = s.gl, ext = s.instancing;
    if (s.bound != -1) {
        gl.bindBuffer(gl.ARRAY_BUFFER, s.batchVertices);
        gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, s.batchIndices);
        gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 56, 0);
        gl.vertexAttribPointer(1, 3, gl.FLOAT, false, 56, 12);
        gl.vertexAttribPointer(2, 4, gl.FLOAT, false, 56, 24);
        gl.vertexAttribPointer(3, 4, gl.FLOAT, false, 56, 40);
        ext.vertexAttribDivisorANGLE(2, 0);
        ext.vertexAttribDivisorANGLE(3, 0);
        gl.enableVertexAttribArray(2);
        gl.enableVertexAttribArray(3);
        for (var column = 0; column < 4; column++) {
            gl.disableVertexAttribArray(4 + column);
            gl.vertexAttrib4f(4 + column, column == 0 ? 1 : 0, column == 1 ? 1 : 0,
                              column == 2 ? 1 : 0, column == 3 ? 1 : 0);
        }
        s.bound = -1;
    }
    if (triangleIndices > 0)
        gl.drawElements(gl.TRIANGLES, triangleIndices, gl.UNSIGNED_SHORT, first * 2);
    if (lineIndices > 0)
        gl.drawElements(gl.LINES, lineIndices, gl.UNSIGNED_SHORT, (first + triangleIndices) * 2);
});

// Draws count spheres of mesh id (its buffers filled from points, normals and faces the
// first time), each instance 24 floats: the modelview's columns, the material's ambient and
// diffuse.
EM_JS(void, webglDrawSpheres,
      (int id, const float* points, const float* normals, int pointCount,
       const unsigned short* faces, int faceIndices, const float* instances, int count), {
    var s = Module['orlemazGl'], gl = s.gl, ext = s.instancing;
    var mesh = s.meshes[id];
    if (!mesh) {
        mesh = s.meshes[id] = {vertices: gl.createBuffer(), indices: gl.createBuffer()};
        gl.bindBuffer(gl.ARRAY_BUFFER, mesh.vertices);
        gl.bufferData(gl.ARRAY_BUFFER, pointCount * 24, gl.STATIC_DRAW);
        gl.bufferSubData(gl.ARRAY_BUFFER, 0,
                         HEAPF32.subarray(points >> 2, (points >> 2) + pointCount * 3));
        gl.bufferSubData(gl.ARRAY_BUFFER, pointCount * 12,
                         HEAPF32.subarray(normals >> 2, (normals >> 2) + pointCount * 3));
        gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, mesh.indices);
        gl.bufferData(gl.ELEMENT_ARRAY_BUFFER,
                      HEAPU16.subarray(faces >> 1, (faces >> 1) + faceIndices), gl.STATIC_DRAW);
    }
    gl.bindBuffer(gl.ARRAY_BUFFER, mesh.vertices);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, mesh.indices);
    gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 0, 0);
    gl.vertexAttribPointer(1, 3, gl.FLOAT, false, 0, pointCount * 12);
    gl.bindBuffer(gl.ARRAY_BUFFER, s.instances);
    gl.bufferData(gl.ARRAY_BUFFER, HEAPF32.subarray(instances >> 2, (instances >> 2) + count * 24),
                  gl.STREAM_DRAW);
    for (var i = 0; i < 6; i++) {
        var index = i < 4 ? 4 + i : i - 2; // the columns, then ambient and diffuse
        gl.vertexAttribPointer(index, 4, gl.FLOAT, false, 96, i * 16);
        ext.vertexAttribDivisorANGLE(index, 1);
        gl.enableVertexAttribArray(index);
    }
    s.bound = id;
    ext.drawElementsInstancedANGLE(gl.TRIANGLES, faceIndices, gl.UNSIGNED_SHORT, 0, count);
});
// clang-format on

EM_JS(void, webglSetViewport, (int x, int y, int width, int height),
      { Module['ctx'].viewport(x, y, width, height); });

EM_JS(void, webglClear, (float r, float g, float b, float a, bool colour, bool depth), {
    var gl = Module['ctx'];
    gl.clearColor(r, g, b, a);
    gl.clear((colour ? gl.COLOR_BUFFER_BIT : 0) | (depth ? gl.DEPTH_BUFFER_BIT : 0));
});

EM_JS(void, webglReadPixels, (int x, int y, int width, int height, unsigned char* out), {
    var gl = Module['ctx'];
    gl.readPixels(x, y, width, height, gl.RGBA, gl.UNSIGNED_BYTE,
                  HEAPU8.subarray(out, out + width * height * 4));
});

// Floats per sphere instance: the modelview's four columns, the material's ambient and
// diffuse (unlit: the current colour).
constexpr int INSTANCE_FLOATS = 24;

// A sphere waiting to be drawn, with the state it was drawn under.
struct SphereDraw {
    const SphereMesh* mesh;
    float instance[INSTANCE_FLOATS];
};

// One draw waiting, in the frame's order: a part of the batch or a sphere.
struct DrawCommand {
    int sphere;          // index into BackendState::spheres, or -1 for a part of the batch
    int first;           // the part's first index
    int triangleIndices; // then its triangles' indices
    int lineIndices;     // then its lines'
};

// What waits for WebGL, and what it was last sent. Everything drawn until the next change
// of state waits, so that the batch's buffers are filled once and each mesh's spheres go
// in one draw.
static struct BackendState {
    bool ready = false;                    // whether the context has the program and buffers
    bool stateSent = false;                // whether the context has had the state at all
    unsigned sentVersion = 0;              // GlState::stateVersion when the state was last sent
    std::vector<float> vertices;           // BATCH_FLOATS per vertex
    std::vector<unsigned short> indices;   // the closed parts' indices
    std::vector<unsigned short> triangles; // the open part's
    std::vector<unsigned short> lines;     // the open part's
    std::vector<SphereDraw> spheres;
    std::vector<DrawCommand> commands;
    Pieces pieces;
} backend;

// Sets the context up on first use: at the first draw, and at the first after a restore.
static void ensureReady() {
    if (!backend.ready) {
        webglSetUp(LIGHT_COUNT);
        backend.ready = true;
        backend.stateSent = false;
    }
}

// Sends the state a draw reads, if it changed since it was last sent.
static void sendState() {
    ensureReady();
    if (backend.stateSent && backend.sentVersion == gl.stateVersion) {
        return;
    }
    backend.stateSent = true;
    backend.sentVersion = gl.stateVersion;
    float state[20 + 11 * LIGHT_COUNT] = {};
    for (int i = 0; i < 16; i++) {
        state[i] = gl.projection.back().m[i];
    }
    for (int i = 0; i < 4; i++) {
        state[16 + i] = gl.lightModelAmbient[i];
    }
    float* direction = state + 20;
    float* ambient = direction + 3 * LIGHT_COUNT;
    float* diffuse = ambient + 4 * LIGHT_COUNT;
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
        for (int i = 0; i < 4; i++) {
            if (i < 3) {
                direction[count * 3 + i] = length > 0.0f ? l.position[i] / length : 0.0f;
            }
            ambient[count * 4 + i] = l.ambient[i];
            diffuse[count * 4 + i] = l.diffuse[i];
        }
        count++;
    }
    webglSetState(state, count, LIGHT_COUNT, gl.lighting, gl.normalize, gl.cullFace, gl.depthTest);
}

// Closes the batch's open part: its indices join the closed parts' and its draw waits.
static void closePart() {
    if (backend.triangles.empty() && backend.lines.empty()) {
        return;
    }
    backend.commands.push_back({-1, static_cast<int>(backend.indices.size()),
                                static_cast<int>(backend.triangles.size()),
                                static_cast<int>(backend.lines.size())});
    backend.indices.insert(backend.indices.end(), backend.triangles.begin(),
                           backend.triangles.end());
    backend.indices.insert(backend.indices.end(), backend.lines.begin(), backend.lines.end());
    backend.triangles.clear();
    backend.lines.clear();
}

// Draws the waiting spheres from first to last (indices into BackendState::spheres), those
// of one mesh in one instanced draw each.
static void drawSpheres(size_t first, size_t last) {
    static std::vector<float> instances;
    static std::vector<bool> drawn;
    drawn.assign(last - first, false);
    for (size_t i = first; i < last; i++) {
        if (drawn[i - first]) {
            continue;
        }
        const SphereMesh& mesh = *backend.spheres[i].mesh;
        instances.clear();
        for (size_t k = i; k < last; k++) {
            if (!drawn[k - first] && backend.spheres[k].mesh == &mesh) {
                drawn[k - first] = true;
                const float* instance = backend.spheres[k].instance;
                instances.insert(instances.end(), instance, instance + INSTANCE_FLOATS);
            }
        }
        webglDrawSpheres(mesh.id, mesh.points.data(), mesh.normals.data(),
                         static_cast<int>(mesh.points.size() / 3), mesh.faces.data(),
                         static_cast<int>(mesh.faces.size()), instances.data(),
                         static_cast<int>(instances.size() / INSTANCE_FLOATS));
    }
}

// Draws everything waiting under the state it waited under. With the depth test on, the
// batch goes first and the spheres after it, grouped by mesh: the picture differs only
// where two surfaces meet at the very same depth. Without it, in the order drawn.
static void flushDraws() {
    closePart();
    if (backend.commands.empty()) {
        return;
    }
    sendState();
    if (!backend.vertices.empty()) {
        webglUploadBatch(backend.vertices.data(),
                         static_cast<int>(backend.vertices.size() / BATCH_FLOATS),
                         backend.indices.data(), static_cast<int>(backend.indices.size()));
    }
    for (const DrawCommand& c : backend.commands) {
        if (c.sphere < 0) {
            webglDrawBatch(c.first, c.triangleIndices, c.lineIndices);
        } else if (!gl.depthTest) {
            drawSpheres(c.sphere, c.sphere + 1);
        }
    }
    if (gl.depthTest) {
        drawSpheres(0, backend.spheres.size());
    }
    backend.vertices.clear();
    backend.indices.clear();
    backend.spheres.clear();
    backend.commands.clear();
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

// Appends one vertex in eye coordinates: its position from v, its normal and colour from
// source (the provoking vertex under flat shading), the material current now.
static unsigned short appendVertex(const ObjectVertex& v, const ObjectVertex& source,
                                   const float normals[9]) {
    const float position[4] = {v.position[0], v.position[1], v.position[2], 1.0f};
    float eye[4] = {};
    transformPoint(gl.modelview.back(), position, eye);
    float n[3] = {};
    for (int row = 0; row < 3; row++) {
        n[row] = normals[row] * source.normal[0] + normals[3 + row] * source.normal[1] +
                 normals[6 + row] * source.normal[2];
    }
    const float* diffuse = gl.lighting ? gl.materialDiffuse : source.colour;
    const unsigned short index =
        static_cast<unsigned short>(backend.vertices.size() / BATCH_FLOATS);
    backend.vertices.insert(backend.vertices.end(),
                            {eye[0], eye[1], eye[2], n[0], n[1], n[2], gl.materialAmbient[0],
                             gl.materialAmbient[1], gl.materialAmbient[2], gl.materialAmbient[3],
                             diffuse[0], diffuse[1], diffuse[2], diffuse[3]});
    return index;
}

static void drawPrimitive(GLenum mode, const std::vector<ObjectVertex>& vertices) {
    splitPrimitive(mode, static_cast<int>(vertices.size()), backend.pieces);
    const std::vector<int>& triangles = backend.pieces.triangles;
    const std::vector<int>& lines = backend.pieces.lines;
    const bool flat = gl.shadeModel == GL_FLAT;
    // Flat shading gives every vertex of a piece its own copy, in the provoking vertex's
    // normal and colour.
    const size_t added = flat ? triangles.size() / 4 * 3 + lines.size() : vertices.size();
    if (backend.vertices.size() / BATCH_FLOATS + added > MAX_BATCH_VERTICES) {
        flushDraws();
    }
    float normals[9] = {};
    currentNormalMatrix(normals);
    if (flat) {
        for (size_t i = 0; i < triangles.size(); i += 4) {
            const ObjectVertex& provoking = vertices[triangles[i + 3]];
            for (size_t k = 0; k < 3; k++) {
                backend.triangles.push_back(
                    appendVertex(vertices[triangles[i + k]], provoking, normals));
            }
        }
        for (size_t i = 0; i < lines.size(); i += 2) {
            const ObjectVertex& provoking = vertices[lines[i + 1]];
            for (size_t k = 0; k < 2; k++) {
                backend.lines.push_back(appendVertex(vertices[lines[i + k]], provoking, normals));
            }
        }
        return;
    }
    const unsigned short first =
        static_cast<unsigned short>(backend.vertices.size() / BATCH_FLOATS);
    for (const ObjectVertex& v : vertices) {
        appendVertex(v, v, normals);
    }
    for (size_t i = 0; i < triangles.size(); i += 4) {
        for (size_t k = 0; k < 3; k++) {
            backend.triangles.push_back(static_cast<unsigned short>(first + triangles[i + k]));
        }
    }
    for (int index : lines) {
        backend.lines.push_back(static_cast<unsigned short>(first + index));
    }
}

static void drawSphere(const SphereMesh& mesh) {
    closePart();
    SphereDraw d = {&mesh, {}};
    const float* diffuse = gl.lighting ? gl.materialDiffuse : gl.colour;
    for (int i = 0; i < 16; i++) {
        d.instance[i] = gl.modelview.back().m[i];
    }
    for (int i = 0; i < 4; i++) {
        d.instance[16 + i] = gl.materialAmbient[i];
        d.instance[20 + i] = diffuse[i];
    }
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

const GeometrySink WEBGL_SINK = {drawPrimitive, drawSphere, alwaysReached, clearBuffers,
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
