// The keyboard and the pop-up menu: the camera steps and the camera reload, the help banner,
// the keys that do nothing, the menu choices, and the two ways out.
#include <GL/freeglut.h>
#include <cstring>
#include <functional>
#include <string>

#include "app/scene_state.h"
#include "draw/draw.h"
#include "harness/help_banner.h"
#include "input/input.h"
#include "support/gl_test_env.h"
#include "view/view.h"

namespace {

using KeysMenuTest = SceneTest;
using KeysMenuDeathTest = SceneTest;

// Everything a key or a menu choice could change. All fields are 4 bytes wide, so the
// records hold no padding and compare byte for byte.
struct Snapshot {
    ViewState view;
    BallState ball;
    InteractionState interaction;
    Rod rods[ROD_COUNT];
};

Snapshot snapshot() {
    Snapshot s;
    s.view = view;
    s.ball = ball;
    s.interaction = interaction;
    std::memcpy(s.rods, rods, sizeof rods);
    return s;
}

bool sameState(const Snapshot& a, const Snapshot& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Loads identity into both matrices and leaves `mode` current, so a reload is visible.
void clearMatrices(GLenum mode) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(mode);
}

bool isIdentity(GLenum which) {
    const Mat4 m = readMatrix(which), identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    return std::memcmp(&m, &identity, sizeof m) == 0;
}

int framesDrawn = 0;
void countFrame() {
    framesDrawn++;
}

// Whether `handler` asks for a redisplay: a stand-in display routine, which asks for none
// itself, counts what the next pass of the event loop draws.
// `printed` receives what the handler wrote on the console.
bool requestsRedisplay(const std::function<void()>& handler, std::string* printed) {
    glutDisplayFunc(countFrame);
    for (int i = 0; i < 3; i++) {
        glutMainLoopEvent(); // drains the redisplay the real display routine left pending
    }
    framesDrawn = 0;
    *printed = consoleOf(handler);
    glutMainLoopEvent();
    glutDisplayFunc(display);
    return framesDrawn > 0;
}

struct ViewKey {
    const char* name;
    bool special;
    int key;
    float ViewState::*field;
    double step;
};

const ViewKey VIEW_KEYS[] = {
    {"+", false, '+', &ViewState::viewDistance, -5.0},
    {"-", false, '-', &ViewState::viewDistance, 5.0},
    {"z", false, 'z', &ViewState::rotZ, 5.0},
    {"Z", false, 'Z', &ViewState::rotZ, -5.0},
    {"left", true, GLUT_KEY_LEFT, &ViewState::rotY, 5.0},
    {"right", true, GLUT_KEY_RIGHT, &ViewState::rotY, -5.0},
    {"up", true, GLUT_KEY_UP, &ViewState::tiltX, 5.0},
    {"down", true, GLUT_KEY_DOWN, &ViewState::tiltX, -5.0},
};

TEST_F(KeysMenuTest, ViewKeysStepTheViewAndReloadTheCamera) {
    for (const ViewKey& k : VIEW_KEYS) {
        SCOPED_TRACE(k.name);
        resetScene();
        // Fractional values, stepped in double and stored back as float.
        view.viewDistance = 400.3f;
        view.tiltX = 16.7f;
        view.rotY = -0.1f;
        view.rotZ = 1234.567f;
        Snapshot expected = snapshot();
        expected.view.*k.field = static_cast<float>(static_cast<double>(view.*k.field) + k.step);

        clearMatrices(GL_PROJECTION);
        std::string printed;
        EXPECT_TRUE(requestsRedisplay(
            [&k] {
                k.special ? specialKeys(k.key, 7, 9)
                          : keyboard(static_cast<unsigned char>(k.key), 7, 9);
            },
            &printed));
        EXPECT_TRUE(sameState(snapshot(), expected)) << "view field now " << view.*k.field;
        EXPECT_EQ(printed, "");

        // The key reloaded both matrices from the new view, as resetProjection builds them.
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
        const Mat4 modelview = readMatrix(GL_MODELVIEW_MATRIX);
        const Mat4 projection = readMatrix(GL_PROJECTION_MATRIX);
        resetProjection();
        const Mat4 rebuiltModelview = readMatrix(GL_MODELVIEW_MATRIX);
        const Mat4 rebuiltProjection = readMatrix(GL_PROJECTION_MATRIX);
        EXPECT_EQ(std::memcmp(&modelview, &rebuiltModelview, sizeof modelview), 0);
        EXPECT_EQ(std::memcmp(&projection, &rebuiltProjection, sizeof projection), 0);
    }
}

TEST_F(KeysMenuTest, EightyPressesOfPlusBringTheCameraToTheOriginAndPastIt) {
    for (int press = 0; press < 80; press++) {
        keyboard('+', 0, 0);
    }
    EXPECT_EQ(view.viewDistance, 0.0f);
    keyboard('+', 0, 0);
    EXPECT_EQ(view.viewDistance, -5.0f);
}

TEST_F(KeysMenuTest, HelpKeysPrintTheBanner) {
    for (unsigned char key : {'h', 'H'}) {
        SCOPED_TRACE(std::string(1, static_cast<char>(key)));
        const Snapshot before = snapshot();
        std::string printed;
        EXPECT_TRUE(requestsRedisplay([key] { keyboard(key, 0, 0); }, &printed));
        EXPECT_EQ(printed, HELP_BANNER);
        EXPECT_TRUE(sameState(snapshot(), before));
    }
}

TEST_F(KeysMenuTest, UnlistedKeysDoNothing) {
    const std::string handled = "\x1b+-HhZz";
    const Snapshot before = snapshot();
    clearMatrices(GL_PROJECTION);
    std::string printed;
    EXPECT_FALSE(requestsRedisplay(
        [&handled] {
            for (int code = 0; code < 256; code++) {
                if (handled.find(static_cast<char>(code)) == std::string::npos) {
                    keyboard(static_cast<unsigned char>(code), 5, 5);
                }
            }
            for (int key = -1; key < 512; key++) {
                if (key < GLUT_KEY_LEFT || key > GLUT_KEY_DOWN) {
                    specialKeys(key, 5, 5);
                }
            }
        },
        &printed));
    EXPECT_TRUE(sameState(snapshot(), before));
    EXPECT_EQ(printed, "");
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    EXPECT_TRUE(isIdentity(GL_PROJECTION_MATRIX));
    EXPECT_TRUE(isIdentity(GL_MODELVIEW_MATRIX));
}

struct MenuCase {
    int value;
    int modeBefore;
    int ballBefore;
    int modeAfter;
    int ballAfter;
};

TEST_F(KeysMenuTest, MenuChoicesSetTheModeAndToggleTheBallOnly) {
    const MenuCase cases[] = {
        {MENU_MOVE_MODEL, MODE_ROD, 0, MODE_MOVE_WORLD, 0},
        {MENU_MOVE_MODEL, MODE_NONE, 1, MODE_MOVE_WORLD, 1},
        {MENU_MOVE_RODS, MODE_ROD, 1, MODE_NONE, 1},
        {MENU_MOVE_RODS, MODE_MOVE_WORLD, 0, MODE_NONE, 0},
        {MENU_TOGGLE_BALL, MODE_ROD, 0, MODE_NONE, 1},
        {MENU_TOGGLE_BALL, MODE_MOVE_WORLD, 1, MODE_NONE, 0},
        {-1, MODE_ROD, 1, MODE_ROD, 1},
        {MENU_ENTRY_COUNT, MODE_MOVE_WORLD, 0, MODE_MOVE_WORLD, 0},
        {100, MODE_NONE, 1, MODE_NONE, 1},
    };
    for (const MenuCase& c : cases) {
        SCOPED_TRACE("value " + std::to_string(c.value));
        interaction.mode = c.modeBefore;
        interaction.selectedId = 5; // rod 3, turned, stays as it is whatever the choice
        rods[3].angle = 33.0f;
        ball.ballOn = c.ballBefore;
        Snapshot expected = snapshot();
        expected.interaction.mode = c.modeAfter;
        expected.ball.ballOn = c.ballAfter;

        clearMatrices(GL_PROJECTION);
        std::string printed;
        EXPECT_FALSE(requestsRedisplay([&c] { menuSelect(c.value); }, &printed));
        EXPECT_TRUE(sameState(snapshot(), expected));
        EXPECT_EQ(printed, "");
        EXPECT_TRUE(isIdentity(GL_PROJECTION_MATRIX));
        EXPECT_TRUE(isIdentity(GL_MODELVIEW_MATRIX));
    }
}

TEST_F(KeysMenuDeathTest, EscapeAndSalirEndTheProcessWithStatusZero) {
    EXPECT_EXIT(keyboard(KEY_ESCAPE, 0, 0), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(menuSelect(MENU_QUIT), ::testing::ExitedWithCode(0), "");
}

} // namespace
