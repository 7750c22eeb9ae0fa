// Scene drawing: what a frame shows under the initial view (read back from the X server),
// where the players stand along their rods, and the frame's hygiene: matrix stacks, GL
// errors and the tube's closing edge.
#include <GL/glut.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/scene_state.h"
#include "draw/draw.h"
#include "support/gl_test_env.h"

namespace {

using SceneDrawingTest = SceneTest;

// The displayed pixel that shows model point (x, y, z) in the last frame.
Pixel pixelAt(double x, double y, double z) {
    const WindowPosition at = projectPoint(view, x, y, z);
    EXPECT_TRUE(at.inFront);
    if (!(at.x >= 0 && at.x < WINDOW_WIDTH && at.y >= 0 && at.y < WINDOW_HEIGHT)) {
        ADD_FAILURE() << "(" << x << "," << y << "," << z << ") falls outside the window at "
                      << at.x << "," << at.y;
        return {-1, -1, -1};
    }
    return readWindowPixel(static_cast<int>(at.x), static_cast<int>(at.y));
}

// A white shirt: bright and grey, not the purple of heads and feet or the brown of the bar.
void expectWhiteShirt(const std::string& what, Pixel c) {
    EXPECT_GT(std::min({c.r, c.g, c.b}), 150) << what;
    EXPECT_LE(std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}), 6) << what;
}

TEST_F(SceneDrawingTest, InitialViewShowsLitPitchLitFloorAndBlackBackground) {
    display();
    // Between rods 3 and 4, far enough from the near wall that it hides nothing.
    EXPECT_EQ(probeColour(pixelAt(50.5, pitchY(), 20.0), litColour(MAT_PITCH, 0, 1, 0)), "")
        << "pitch";
    // Behind the table; the line of sight passes over the far wall.
    EXPECT_EQ(probeColour(pixelAt(50.0, 0.0, -200.0), litColour(MAT_FLOOR, 0, 1, 0)), "")
        << "floor";

    const WindowPosition edge = projectPoint(view, 50.0, 0.0, -500.0);
    ASSERT_TRUE(edge.inFront);
    ASSERT_GT(edge.y, 2.0) << "the floor's far edge should lie below the window's top";
    for (int x : {1, WINDOW_WIDTH / 2, WINDOW_WIDTH - 2}) {
        EXPECT_EQ(probeColour(readWindowPixel(x, 1), {0, 0, 0}, 0), "") << "background";
    }
}

TEST_F(SceneDrawingTest, WallTopShadesFromItsInnerEdgeToItsOuterEdge) {
    // The box's faces are one quad strip with one normal per face, so the top's inner edge
    // keeps the inner face's normal (0, 0, -1), unlit from here, and smooth shading blends
    // it into the lit top. Sample the near side wall (z 65 to 70) halfway across.
    display();
    const WindowPosition innerEdge = projectPoint(view, 50.0, 32.0, 65.0);
    const WindowPosition outerEdge = projectPoint(view, 50.0, 32.0, 70.0);
    ASSERT_TRUE(innerEdge.inFront && outerEdge.inFront);
    const int row = static_cast<int>((innerEdge.y + outerEdge.y) / 2.0);
    const double f = (row + 0.5 - innerEdge.y) / (outerEdge.y - innerEdge.y);
    const Pixel inner = litColour(MAT_TABLE, 0, 0, -1), outer = litColour(MAT_TABLE, 0, 1, 0);
    const Pixel expected = {static_cast<int>(std::lround(inner.r + f * (outer.r - inner.r))),
                            static_cast<int>(std::lround(inner.g + f * (outer.g - inner.g))),
                            static_cast<int>(std::lround(inner.b + f * (outer.b - inner.b)))};
    EXPECT_EQ(probeColour(readWindowPixel(static_cast<int>(innerEdge.x), row), expected, 4), "")
        << "wall top";
}

TEST_F(SceneDrawingTest, ShirtsShowTheTeamsAndATurnedRodSwingsItsPlayersTowardsPlusX) {
    // The bar runs in front of each body's centre line and, seen in perspective, drifts
    // outwards from the middle of the view (x = 50), so look 1 unit beside the axis on the
    // middle's side. Rods 0 and 7 carry one player each: no figure stands in front.
    const Rod& rod0 = rods[0];
    const double axisY = rodAxisY();
    const double bodyY = axisY - 2.0;
    display();
    expectWhiteShirt("team 0 shirt", pixelAt(rod0.x + 1.0, bodyY, rod0.playerZ[0]));
    const Pixel team1 = pixelAt(rods[7].x - 1.0, bodyY, rods[7].playerZ[0]);
    EXPECT_TRUE(team1.r <= 5 && team1.g <= 5 && team1.b <= 40)
        << "team 1 shirt shows (" << team1.r << "," << team1.g << "," << team1.b << ")";

    // A quarter turn lifts the figure to the rod's height with its feet towards +x: the
    // pitch shows where the body hung, and the body now lies 2 units along +x from the axis.
    rods[0].angle = 90.0f;
    display();
    EXPECT_EQ(
        probeColour(pixelAt(rod0.x + 1.0, bodyY, rod0.playerZ[0]), litColour(MAT_PITCH, 0, 1, 0)),
        "")
        << "where the body hung";
    expectWhiteShirt("swung body", pixelAt(rod0.x + 2.0, axisY, rod0.playerZ[0]));
}

TEST_F(SceneDrawingTest, PlayersStandByCountAndSlideWhateverTheTurn) {
    // Rods 0 to 3 carry one to four players, centred on z = 32.5 and 15 apart.
    const std::vector<float> atRest[4] = {
        {32.5f}, {25.0f, 40.0f}, {17.5f, 32.5f, 47.5f}, {10.0f, 25.0f, 40.0f, 55.0f}};
    const struct {
        float slide;
        float angle;
    } poses[] = {{0.0f, 0.0f}, {7.5f, 0.0f}, {-3.25f, 0.0f}, {-3.25f, 135.0f}, {0.0f, 270.0f}};
    for (int index = 0; index < 4; index++) {
        for (const auto& pose : poses) {
            SCOPED_TRACE("rod " + std::to_string(index) + " slide " + std::to_string(pose.slide) +
                         " angle " + std::to_string(pose.angle));
            Rod& rod = rods[index];
            rod.slide = pose.slide;
            rod.angle = pose.angle;
            std::fill(std::begin(rod.playerZ), std::end(rod.playerZ), -1000.0f);
            display();
            for (int j = 0; j < MAX_PLAYERS_PER_ROD; j++) {
                const float expected =
                    j < rod.playerCount ? atRest[index][j] + pose.slide : -1000.0f;
                EXPECT_FLOAT_EQ(rod.playerZ[j], expected) << "player " << j;
            }
        }
    }
}

TEST_F(SceneDrawingTest, FrameLeavesMatricesAndStateAsItFoundThem) {
    for (int ballOn : {0, 1}) {
        SCOPED_TRACE("ballOn " + std::to_string(ballOn));
        ball.ballOn = ballOn;
        while (glGetError() != GL_NO_ERROR) {
        }
        const GLint modelviewDepth = stackDepth(GL_MODELVIEW_STACK_DEPTH);
        const GLint projectionDepth = stackDepth(GL_PROJECTION_STACK_DEPTH);
        const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
        const Mat4 projection = readMatrix(GL_PROJECTION_MATRIX);
        const ViewState viewBefore = view;
        const BallState ballBefore = ball;
        Rod rodsBefore[ROD_COUNT];
        std::copy(std::begin(rods), std::end(rods), rodsBefore);

        display();

        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelviewDepth);
        EXPECT_EQ(stackDepth(GL_PROJECTION_STACK_DEPTH), projectionDepth);
        EXPECT_EQ(std::memcmp(readMatrix(GL_MODELVIEW_MATRIX).m, modelview.m, sizeof modelview), 0);
        EXPECT_EQ(std::memcmp(readMatrix(GL_PROJECTION_MATRIX).m, projection.m, sizeof projection),
                  0);
        GLint matrixMode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        EXPECT_EQ(matrixMode, GL_MODELVIEW);

        // With the ball off, a frame writes nothing but the players' positions.
        if (ballOn == 0) {
            EXPECT_EQ(std::memcmp(&view, &viewBefore, sizeof view), 0);
            EXPECT_EQ(std::memcmp(&ball, &ballBefore, sizeof ball), 0);
            for (int i = 0; i < ROD_COUNT; i++) {
                std::copy(std::begin(rods[i].playerZ), std::end(rods[i].playerZ),
                          rodsBefore[i].playerZ);
                EXPECT_EQ(std::memcmp(&rods[i], &rodsBefore[i], sizeof(Rod)), 0) << "rod " << i;
            }
        }
    }
}

TEST_F(SceneDrawingTest, NormalizeKeepsZeroAndTheTubeClosesOnItsFirstEdge) {
    Vec3d zero = {0.0, 0.0, 0.0};
    normalize(&zero);
    EXPECT_TRUE(zero.x == 0.0 && zero.y == 0.0 && zero.z == 0.0);
    Vec3d v = {3.0, -4.0, 12.0};
    normalize(&v);
    EXPECT_DOUBLE_EQ(v.x, 3.0 / 13.0);
    EXPECT_DOUBLE_EQ(v.y, -4.0 / 13.0);
    EXPECT_DOUBLE_EQ(v.z, 12.0 / 13.0);

    // Capture a 20-slice tube of height 10 in window coordinates, scaled to fill the view
    // so that a sweep ending at 6.28318 instead of exactly 0 would leave a visible seam.
    std::vector<GLfloat> feedback(4096);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glScalef(0.9f, 0.05f, 0.9f);
    glDisable(GL_CULL_FACE);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    drawTube(0.0, 10.0, 0.0, 1.0, 1.0, 20, 0.0, 0.0);
    const GLint count = glRenderMode(GL_RENDER);
    glEnable(GL_CULL_FACE);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    ASSERT_GT(count, 0);
    std::set<std::tuple<float, float, float>> corners;
    std::set<float> heights;
    for (GLint i = 0; i < count;) {
        ASSERT_EQ(feedback[i++], static_cast<GLfloat>(GL_POLYGON_TOKEN));
        const int vertices = static_cast<int>(feedback[i++]);
        for (int k = 0; k < vertices; k++, i += 3) {
            corners.insert({feedback[i], feedback[i + 1], feedback[i + 2]});
            heights.insert(feedback[i + 1]);
        }
    }
    // 21 vertex pairs, the last lying exactly on the first; far and near rings each flat.
    EXPECT_EQ(corners.size(), 40u);
    EXPECT_EQ(heights.size(), 2u);
}

} // namespace
