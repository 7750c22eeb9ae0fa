// Start-up: the rod table and the records after initScene, the fixed OpenGL state, and the
// camera, projection and lights that reshape builds, which the harness's camera model
// (harness/camera_model.h) must reproduce.
#include <GL/glu.h>
#include <GL/glut.h>
#include <cmath>

#include "app/scene_state.h"
#include "support/gl_test_env.h"
#include "view/view.h"

namespace {

using StartupTest = SceneTest;

struct ExpectedRod {
    int team;
    float slideMax;
    float slideMin;
    int playerCount;
    float overhang;
};

TEST_F(StartupTest, RodTableIsLaidOutAsTheTableIsBuilt) {
    const ExpectedRod expected[ROD_COUNT] = {
        {0, 15.0f, -8.0f, 1, 15.0f},  {0, 24.0f, -19.0f, 2, 25.0f}, {1, 17.0f, -11.0f, 3, 25.0f},
        {0, 10.0f, -4.0f, 4, 15.0f},  {1, 10.0f, -4.0f, 4, 25.0f},  {0, 17.0f, -11.0f, 3, 25.0f},
        {1, 24.0f, -19.0f, 2, 20.0f}, {1, 15.0f, -8.0f, 1, 25.0f},
    };
    for (int i = 0; i < ROD_COUNT; i++) {
        SCOPED_TRACE("rod " + std::to_string(i));
        const Rod& r = rods[i];
        EXPECT_EQ(r.team, expected[i].team);
        EXPECT_EQ(r.pickName, i + 2);
        EXPECT_EQ(r.slideMax, expected[i].slideMax);
        EXPECT_EQ(r.slideMin, expected[i].slideMin);
        EXPECT_EQ(r.angle, 0.0f);
        EXPECT_EQ(r.slide, 0.0f);
        EXPECT_EQ(r.playerCount, expected[i].playerCount);
        EXPECT_EQ(r.x, static_cast<float>(11 * i + 12));
        EXPECT_EQ(r.overhang, expected[i].overhang);
        EXPECT_EQ(r.length, 110.0f);
    }
}

TEST_F(StartupTest, RecordsStartWithTheirLoadValues) {
    EXPECT_EQ(tableDims.tableLength, 100);
    EXPECT_EQ(tableDims.tableWidth, 70);
    EXPECT_EQ(tableDims.legHeight, 20);
    EXPECT_EQ(tableDims.playerSpacing, 15.0f);
    EXPECT_EQ(tableDims.wallThickness, 5.0f);
    EXPECT_EQ(tableDims.wallHeight, 12.0f);

    EXPECT_EQ(ball.ballOn, 0);
    EXPECT_EQ(ball.x, 20.0f);
    EXPECT_EQ(ball.y, 23.0f);
    EXPECT_EQ(ball.z, 20.0f);
    EXPECT_EQ(ball.prevX, 20.0f);
    EXPECT_EQ(ball.prevZ, 20.0f);
    EXPECT_EQ(ball.vx, 1.5f);
    EXPECT_EQ(ball.vz, 1.5f);

    EXPECT_EQ(view.viewDistance, 400.0f);
    EXPECT_EQ(view.tiltX, 16.0f);
    EXPECT_EQ(view.rotY, 0.0f);
    EXPECT_EQ(view.rotZ, 0.0f);
    EXPECT_EQ(view.panX, 0);
    EXPECT_EQ(view.panY, 0);

    EXPECT_EQ(interaction.mode, MODE_NONE);
    EXPECT_EQ(interaction.selectedId, -1);
    EXPECT_EQ(interaction.lastMouseX, -1.0f);
    EXPECT_EQ(interaction.lastMouseY, -1.0f);

    // The records keep their field types and order.
    static_assert(sizeof(int) == 4, "32-bit ints");
    static_assert(offsetof(Rod, playerZ) == 7 * 4 && sizeof(Rod) == 15 * 4, "Rod layout");
    static_assert(offsetof(ViewState, panX) == 16 && offsetof(ViewState, winW) == 24,
                  "ViewState layout");
}

TEST_F(StartupTest, OnlyTheDescribedCapabilitiesAreEnabled) {
    for (GLenum on : {GL_CULL_FACE, GL_LIGHTING, GL_LIGHT0, GL_LIGHT1, GL_DEPTH_TEST,
                      GL_AUTO_NORMAL, GL_NORMALIZE}) {
        EXPECT_TRUE(glIsEnabled(on)) << std::hex << on;
    }
    for (GLenum off : {GL_COLOR_MATERIAL, GL_LIGHT2, GL_TEXTURE_2D, GL_BLEND, GL_FOG}) {
        EXPECT_FALSE(glIsEnabled(off)) << std::hex << off;
    }
    GLint cullFace = 0, frontFace = 0, depthFunc = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &cullFace);
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(cullFace, GL_BACK);
    EXPECT_EQ(frontFace, GL_CCW);
    EXPECT_EQ(depthFunc, GL_LESS);

    GLint buffers = 0, depthBits = 0;
    glGetIntegerv(GL_DOUBLEBUFFER, &buffers);
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_TRUE(buffers);
    EXPECT_GT(depthBits, 0);
}

// Column-major 4 x 4 helpers, written from the textbook definitions.
Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 out{};
    for (int col = 0; col < 4; col++) {
        for (int row = 0; row < 4; row++) {
            for (int k = 0; k < 4; k++) {
                out.m[col * 4 + row] += a.m[k * 4 + row] * b.m[col * 4 + k];
            }
        }
    }
    return out;
}

Mat4 translation(double x, double y, double z) {
    return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}};
}

Mat4 rotationX(double degrees) {
    const double c = std::cos(degrees * M_PI / 180.0), s = std::sin(degrees * M_PI / 180.0);
    return {{1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1}};
}

Mat4 frustum(double l, double r, double b, double t, double n, double f) {
    return {{2 * n / (r - l), 0, 0, 0, 0, 2 * n / (t - b), 0, 0, (r + l) / (r - l),
             (t + b) / (t - b), -(f + n) / (f - n), -1, 0, 0, -2 * f * n / (f - n), 0}};
}

void expectMatrixNear(const Mat4& actual, const Mat4& expected) {
    for (int i = 0; i < 16; i++) {
        EXPECT_NEAR(actual.m[i], expected.m[i], 1e-4 * (1.0 + std::fabs(expected.m[i])))
            << "element " << i;
    }
}

TEST_F(StartupTest, ReshapeLoadsFrustumAndCamera) {
    reshape(680, 480);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 680);
    EXPECT_EQ(viewport[3], 480);
    EXPECT_EQ(view.winW, 680.0f);
    EXPECT_EQ(view.winH, 480.0f);

    GLint matrixMode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    EXPECT_EQ(matrixMode, GL_MODELVIEW);

    const double aspect = 480.0 / 680.0;
    expectMatrixNear(readMatrix(GL_PROJECTION_MATRIX),
                     frustum(-1, 1, -aspect, aspect, 5.0, 1000.0));
    // -100 / 2 and -70 / 2: the table's width centres the view along y.
    expectMatrixNear(readMatrix(GL_MODELVIEW_MATRIX),
                     multiply(translation(-50, -35, -400), rotationX(16)));
}

TEST_F(StartupTest, ZeroSizedWindowFallsBackToSquareAspect) {
    for (const auto& size : {std::pair<int, int>{0, 480}, {680, 0}, {0, 0}}) {
        reshape(size.first, size.second);
        expectMatrixNear(readMatrix(GL_PROJECTION_MATRIX), frustum(-1, 1, -1, 1, 5.0, 1000.0));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(StartupTest, TableHalvingTruncatesTowardZeroAndPanAddsAfterIt) {
    tableDims.tableLength = 101;
    tableDims.tableWidth = 71;
    view.panX = 3;
    view.panY = -4;
    resetProjection();
    const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
    EXPECT_DOUBLE_EQ(modelview.m[12], -50 + 3);
    EXPECT_DOUBLE_EQ(modelview.m[13], -35 - 4);
    EXPECT_DOUBLE_EQ(modelview.m[14], -400);
}

TEST_F(StartupTest, LightsAreFixedToTheViewerNotTheScene) {
    view.tiltX = 70.0f;
    view.rotY = 30.0f;
    resetProjection();
    GLfloat light0[4] = {}, light1[4] = {};
    glGetLightfv(GL_LIGHT0, GL_POSITION, light0);
    glGetLightfv(GL_LIGHT1, GL_POSITION, light1);
    const GLfloat expected0[4] = {10, 10, 10, 0}, expected1[4] = {-10, 10, -10, 0};
    for (int i = 0; i < 4; i++) {
        EXPECT_FLOAT_EQ(light0[i], expected0[i]);
        EXPECT_FLOAT_EQ(light1[i], expected1[i]);
    }
    // Light 1 keeps its black default colour, so only light 0 lights the scene.
    GLfloat diffuse1[4] = {1, 1, 1, 1};
    glGetLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse1);
    EXPECT_EQ(diffuse1[0] + diffuse1[1] + diffuse1[2], 0.0f);
}

// The camera model that the end-to-end tests, orlemaz-drive and the browser check project
// with puts points where the program's own matrices do, whatever the view and window size.
TEST_F(StartupTest, CameraModelProjectsAsTheProgramsMatrices) {
    const struct {
        float tiltX, rotY, rotZ, viewDistance;
        int panX, panY, width, height;
    } views[] = {{16.0f, 0.0f, 0.0f, 400.0f, 0, 0, WINDOW_WIDTH, WINDOW_HEIGHT},
                 {51.0f, -35.0f, 12.5f, 250.0f, 4, -7, 900, 700},
                 {-20.0f, 170.0f, -95.0f, 520.0f, -30, 12, 300, 640}};
    const double points[][3] = {
        {0, 0, 0}, {50, 21, 20}, {12, 30, 32.5}, {89, 33, 70}, {50, 0, -200}};
    for (const auto& v : views) {
        view.tiltX = v.tiltX, view.rotY = v.rotY, view.rotZ = v.rotZ;
        view.viewDistance = v.viewDistance, view.panX = v.panX, view.panY = v.panY;
        reshape(v.width, v.height);
        const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
        const Mat4 projection = readMatrix(GL_PROJECTION_MATRIX);
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        for (const auto& p : points) {
            SCOPED_TRACE(std::to_string(v.width) + " x " + std::to_string(v.height) + ", point " +
                         std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
                         std::to_string(p[2]));
            double wx = 0.0, wy = 0.0, wz = 0.0;
            ASSERT_EQ(
                gluProject(p[0], p[1], p[2], modelview.m, projection.m, viewport, &wx, &wy, &wz),
                GL_TRUE);
            const WindowPosition model = projectPoint(view, p[0], p[1], p[2]);
            EXPECT_NEAR(model.x, wx, 0.01);
            EXPECT_NEAR(model.y, v.height - wy, 0.01);
            EXPECT_EQ(model.inFront, wz > 0.0 && wz < 1.0);
        }
    }
}

} // namespace
