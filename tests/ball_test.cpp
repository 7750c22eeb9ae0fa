// The ball step: collisions with the lowered players and how they reverse the velocity, the
// wall bounds that keep the ball on its lattice, the first hit from the start, and the ball
// switched off from the menu.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "app/scene_state.h"
#include "ball/ball.h"
#include "draw/draw.h"
#include "input/input.h"
#include "support/gl_test_env.h"
#include "view/view.h"

namespace {

using BallTest = SceneTest;

constexpr float LIFTED = 90.0f; // degrees, well inside the band that lifts the players

// z of player j on a rod of n players at slide 0: the players are centred on (70 - 5) / 2.
float restPlayerZ(int n, int j) {
    return (70.0f - 5.0f) / 2.0f - static_cast<float>(n - 1) * 15.0f / 2.0f + 15.0f * j;
}

// Looks straight down onto the pitch, so that no player stands between the camera and the
// ball; panY = 35 cancels the camera's -70 / 2 along y, which here runs along -z.
void lookStraightDown() {
    view.tiltX = 90.0f;
    view.panY = 35;
    view.viewDistance = 300.0f;
    resetProjection();
}

// True when the window shows the near-black ball where model point (x, 23, z) projects; the
// pitch behind it is pale.
bool ballDrawnAt(float x, float z) {
    const WindowPosition at = projectPoint(view, x, 23.0, z);
    if (!at.inFront) {
        return false;
    }
    const Pixel rgb =
        readWindowPixel(static_cast<int>(std::lround(at.x)), static_cast<int>(std::lround(at.y)));
    return rgb.r + rgb.g + rgb.b < 200;
}

// A second box that also holds the ball's centre in the crowded cases.
enum Crowding { ALONE, NEXT_ROD_TOO, NEXT_PLAYER_TOO, NEXT_ROD_ONLY };

struct CollisionCase {
    const char* what;
    float x, z;         // centre at the start of the step
    float prevX, prevZ; // centre before the previous step
    float angle;        // rod 3's angle, degrees
    Crowding crowding;
    bool hit;
    float vx, vz; // velocity after the step, starting from (1.5, 1.5)
};

// Rod 3 stands at x = 45; its player 1 at z = 25, so that box spans x 43..47 and z 22..28.
// The crowding boxes stand at (46, 29) (rod 4 moved along the table, or rod 3's player 2
// moved along the rod): the ball at (45.5, 26.5) coming from (44.5, 25) lies in both boxes;
// it entered the first along x (reverses vx only) and the second along z (vz only).
const CollisionCase COLLISIONS[] = {
    {"along x", 43.5f, 26.5f, 42.0f, 25.0f, 0.0f, ALONE, true, -1.5f, 1.5f},
    {"along z", 45.5f, 22.5f, 44.0f, 21.0f, 0.0f, ALONE, true, 1.5f, -1.5f},
    {"across a corner", 43.5f, 22.5f, 42.0f, 21.0f, 0.0f, ALONE, true, -1.5f, -1.5f},
    {"angle 49.9", 43.5f, 26.5f, 42.0f, 25.0f, 49.9f, ALONE, true, -1.5f, 1.5f},
    {"angle 50", 43.5f, 26.5f, 42.0f, 25.0f, 50.0f, ALONE, false, 1.5f, 1.5f},
    {"angle 320", 43.5f, 26.5f, 42.0f, 25.0f, 320.0f, ALONE, false, 1.5f, 1.5f},
    {"angle 320.1", 43.5f, 26.5f, 42.0f, 25.0f, 320.1f, ALONE, true, -1.5f, 1.5f},
    {"on x = rx + 2", 47.0f, 25.0f, 45.5f, 23.5f, 0.0f, ALONE, false, 1.5f, 1.5f},
    {"on x = rx - 2", 43.0f, 25.0f, 41.5f, 23.5f, 0.0f, ALONE, false, 1.5f, 1.5f},
    {"on z = pz + 3", 45.0f, 28.0f, 43.5f, 26.5f, 0.0f, ALONE, false, 1.5f, 1.5f},
    {"on z = pz - 3", 45.0f, 22.0f, 43.5f, 20.5f, 0.0f, ALONE, false, 1.5f, 1.5f},
    {"second box alone", 45.5f, 26.5f, 44.5f, 25.0f, LIFTED, NEXT_ROD_ONLY, true, 1.5f, -1.5f},
    {"two rods", 45.5f, 26.5f, 44.5f, 25.0f, 0.0f, NEXT_ROD_TOO, true, -1.5f, 1.5f},
    {"two players", 45.5f, 26.5f, 44.5f, 25.0f, 0.0f, NEXT_PLAYER_TOO, true, -1.5f, 1.5f},
};

TEST_F(BallTest, CollisionsReverseTheVelocityByWhereTheBallCameFrom) {
    display(); // ball off: the frame only writes every rod's playerZ
    for (const CollisionCase& c : COLLISIONS) {
        SCOPED_TRACE(c.what);
        for (Rod& r : rods) {
            r.angle = LIFTED;
        }
        rods[3].angle = c.angle;
        rods[3].playerZ[2] = restPlayerZ(4, 2);
        rods[4].x = 56.0f;
        rods[4].playerZ[1] = restPlayerZ(4, 1);
        if (c.crowding == NEXT_ROD_TOO || c.crowding == NEXT_ROD_ONLY) {
            rods[4].angle = 0.0f;
            rods[4].x = 46.0f;
            rods[4].playerZ[1] = 29.0f;
        } else if (c.crowding == NEXT_PLAYER_TOO) {
            rods[3].playerZ[2] = 29.0f;
        }
        ball = BallState{1, c.x, 23.0f, c.z, c.prevX, c.prevZ, 1.5f, 1.5f};

        EXPECT_EQ(consoleOf(stepBall), c.hit ? "Choque!\n" : "");
        EXPECT_EQ(ball.vx, c.vx);
        EXPECT_EQ(ball.vz, c.vz);
        EXPECT_EQ(ball.prevX, c.x);
        EXPECT_EQ(ball.prevZ, c.z);
        EXPECT_EQ(ball.x, c.x + c.vx);
        EXPECT_EQ(ball.z, c.z + c.vz);
    }
}

TEST_F(BallTest, LiftedRodsLeaveTheBallOnItsLatticeBetweenTheWalls) {
    for (Rod& r : rods) {
        r.angle = LIFTED;
    }
    display();
    ball.ballOn = 1;
    float minX = ball.x, maxX = ball.x, minZ = ball.z, maxZ = ball.z;
    std::string console;
    for (int step = 0; step < 3000; step++) {
        console += consoleOf(stepBall);
        SCOPED_TRACE("step " + std::to_string(step));
        // Every lattice value 20 + 1.5 k is exact in float, so the sums must stay exact.
        ASSERT_EQ(ball.x, 20.0f + 1.5f * std::round((ball.x - 20.0f) / 1.5f));
        ASSERT_EQ(ball.z, 20.0f + 1.5f * std::round((ball.z - 20.0f) / 1.5f));
        ASSERT_EQ(std::fabs(ball.vx), 1.5f);
        ASSERT_EQ(std::fabs(ball.vz), 1.5f);
        ASSERT_EQ(ball.y, 23.0f);
        minX = std::min(minX, ball.x);
        maxX = std::max(maxX, ball.x);
        minZ = std::min(minZ, ball.z);
        maxZ = std::max(maxZ, ball.z);
    }
    // The first lattice values past the bounds 8 / 92 and 8 / 63, where the ball touches
    // the walls' inner faces at 5 / 95 and 5 / 65.
    EXPECT_EQ(minX, 6.5f);
    EXPECT_EQ(maxX, 93.5f);
    EXPECT_EQ(minZ, 6.5f);
    EXPECT_EQ(maxZ, 63.5f);
    EXPECT_EQ(console, "");
}

TEST_F(BallTest, FromTheStartTheBallMeetsTheFirstPlayerOnItsDiagonal) {
    lookStraightDown();
    ball.ballOn = 1;
    std::string console = consoleOf(display);
    EXPECT_EQ(ball.prevX, 20.0f);
    EXPECT_EQ(ball.prevZ, 20.0f);
    EXPECT_EQ(ball.x, 21.5f);
    EXPECT_EQ(ball.z, 21.5f);
    // (19, 20) lies inside a ball drawn at (20, 20) but 2.9 from (21.5, 21.5).
    EXPECT_TRUE(ballDrawnAt(19.0f, 20.0f));

    // Walk the diagonal from (20, 20) and find the first box, in rod then player order, that
    // strictly holds the centre; the walk meets it before z reaches the bound at 63.
    int hitStep = -1;
    float hitRx = 0.0f, hitPz = 0.0f;
    for (int k = 0; 20.0f + 1.5f * k < 63.0f && hitStep < 0; k++) {
        const float p = 20.0f + 1.5f * k;
        for (int i = 0; i < ROD_COUNT && hitStep < 0; i++) {
            const float rx = static_cast<float>(11 * i + 12);
            for (int j = 0; j < rods[i].playerCount && hitStep < 0; j++) {
                const float pz = restPlayerZ(rods[i].playerCount, j);
                if (std::fabs(p - rx) < 2.0f && std::fabs(p - pz) < 3.0f) {
                    hitStep = k;
                    hitRx = rx;
                    hitPz = pz;
                }
            }
        }
    }
    ASSERT_GE(hitStep, 1);

    int step = 1;
    while (console.empty() && step <= hitStep) {
        console += consoleOf(display);
        step++;
    }
    EXPECT_EQ(step - 1, hitStep) << "the first hit came in another frame";
    EXPECT_EQ(console, "Choque!\n");
    const float hitAt = 20.0f + 1.5f * hitStep;
    EXPECT_EQ(ball.prevX, hitAt);
    EXPECT_EQ(ball.prevZ, hitAt);
    // The step before, the ball stood at hitAt - 1.5 on both axes.
    const float before = hitAt - 1.5f;
    const bool inZBand = std::fabs(before - hitPz) < 3.0f;
    const bool inXBand = std::fabs(before - hitRx) < 2.0f;
    EXPECT_EQ(ball.vx, !inZBand && inXBand ? 1.5f : -1.5f);
    EXPECT_EQ(ball.vz, inZBand ? 1.5f : -1.5f);
}

TEST_F(BallTest, SwitchedOffTheBallIsNeitherMovedNorDrawnAndResumesWhereItWas) {
    lookStraightDown();
    interaction.mode = MODE_MOVE_WORLD;
    menuSelect(MENU_TOGGLE_BALL);
    EXPECT_EQ(ball.ballOn, 1);
    EXPECT_EQ(interaction.mode, MODE_NONE);
    display();
    interaction.mode = MODE_MOVE_WORLD;
    menuSelect(MENU_TOGGLE_BALL);
    EXPECT_EQ(ball.ballOn, 0);
    EXPECT_EQ(interaction.mode, MODE_NONE);

    const BallState kept = ball;
    std::string console;
    for (int frame = 0; frame < 5; frame++) {
        console += consoleOf(display);
    }
    EXPECT_EQ(std::memcmp(&ball, &kept, sizeof ball), 0) << "the ball moved while off";
    EXPECT_FALSE(ballDrawnAt(kept.x, kept.z));

    menuSelect(MENU_TOGGLE_BALL);
    console += consoleOf(display);
    EXPECT_TRUE(ballDrawnAt(kept.x, kept.z));
    EXPECT_EQ(ball.prevX, kept.x);
    EXPECT_EQ(ball.x, kept.x + kept.vx);
    EXPECT_EQ(ball.z, kept.z + kept.vz);
    EXPECT_EQ(console, "");
}

} // namespace
