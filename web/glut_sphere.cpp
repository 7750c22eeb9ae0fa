// GLUT's solid sphere, which the toolchain's GLUT lacks: the mesh of each radius, slices
// and stacks is built once, with GLUT's own vertices, strips and order, so that it draws
// and picks as it does natively, and handed whole to the sink (which keeps it in WebGL
// buffers, or clips its triangles for a pick). Also hands web/glut_menu_input.js the
// numbers of GLUT's header it needs.
#include "web/gl_layer.h"

#include <GL/glut.h>
#include <emscripten.h>

#include <cmath>
#include <cstdlib>
#include <memory>

// GLUT's display-mode bits that the window's WebGL context follows, and the codes of the
// special keys the program reads by the names the DOM gives them (event.key), as GLUT's
// header declares them; handed to the page's JavaScript before main runs.
// clang-format off
EM_JS(void, webglutNumbers, (int alpha, int depth, int stencil, int multisample, int left,
                             int up, int right, int down), {
    Module.glutModeBits = {alpha: alpha, depth: depth, stencil: stencil, multisample: multisample};
    Module.glutSpecialKeys = {ArrowLeft: left, ArrowUp: up, ArrowRight: right, ArrowDown: down};
});
// clang-format on
[[gnu::constructor]] static void handGlutNumbers() {
    webglutNumbers(GLUT_ALPHA, GLUT_DEPTH, GLUT_STENCIL, GLUT_MULTISAMPLE, GLUT_KEY_LEFT,
                   GLUT_KEY_UP, GLUT_KEY_RIGHT, GLUT_KEY_DOWN);
}

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

// The mesh of a sphere about the origin with its poles on the z axis: one triangle strip
// per stack over rings of slices points, the top pole first and the bottom pole last.
static std::unique_ptr<SphereMesh> buildSphere(int id, float radius, int slices, int stacks) {
    std::vector<float> sin1, cos1, sin2, cos2;
    circleTable(sin1, cos1, -slices, false);
    circleTable(sin2, cos2, stacks, true);
    auto mesh = std::make_unique<SphereMesh>();
    mesh->id = id;
    mesh->radius = radius;
    mesh->slices = slices;
    mesh->stacks = stacks;
    auto point = [&](float x, float y, float z) {
        mesh->normals.insert(mesh->normals.end(), {x, y, z});
        mesh->points.insert(mesh->points.end(), {x * radius, y * radius, z * radius});
    };
    point(0.0f, 0.0f, 1.0f);
    for (int i = 1; i < stacks; i++) {
        for (int j = 0; j < slices; j++) {
            point(cos1[j] * sin2[i], sin1[j] * sin2[i], cos2[i]);
        }
    }
    point(0.0f, 0.0f, -1.0f);
    const int last = static_cast<int>(mesh->points.size() / 3) - 1;
    std::vector<int> strip;
    Pieces pieces;
    for (int stack = 0; stack < stacks; stack++) {
        strip.clear();
        for (int j = 0; j <= slices; j++) {
            const int k = j % slices;
            if (stack == 0) {
                strip.insert(strip.end(), {1 + k, 0});
            } else if (stack == stacks - 1) {
                strip.insert(strip.end(), {last, 1 + (stacks - 2) * slices + k});
            } else {
                const int offset = 1 + (stack - 1) * slices;
                strip.insert(strip.end(), {offset + k + slices, offset + k});
            }
        }
        splitPrimitive(GL_TRIANGLE_STRIP, static_cast<int>(strip.size()), pieces);
        for (int index : pieces.triangles) {
            mesh->faces.push_back(static_cast<unsigned short>(strip[index]));
        }
    }
    for (int i = 0; i < 3; i++) {
        mesh->lastNormal[i] = mesh->normals[strip.back() * 3 + i];
    }
    return mesh;
}

// NOTE: the layer does not record a sphere in a display list.
extern "C" void glutSolidSphere(GLdouble radius, GLint slices, GLint stacks) {
    static std::vector<std::unique_ptr<SphereMesh>> meshes;
    refuseInList("glutSolidSphere in a display list");
    if (slices < 2 || stacks < 2 || (stacks - 1) * slices + 2 > 65536) {
        unsupportedGl("a sphere of this many slices and stacks");
    }
    const float r = static_cast<float>(radius);
    const SphereMesh* mesh = nullptr;
    for (size_t i = 0; i < meshes.size() && mesh == nullptr; i++) {
        const SphereMesh& m = *meshes[i];
        if (m.radius == r && m.slices == slices && m.stacks == stacks) {
            mesh = meshes[i].get();
        }
    }
    if (mesh == nullptr) {
        meshes.push_back(buildSphere(static_cast<int>(meshes.size()), r, slices, stacks));
        mesh = meshes.back().get();
    }
    gl.sink->sphere(*mesh);
    setCurrentNormal(mesh->lastNormal);
}
