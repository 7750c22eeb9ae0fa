// Prints the whole selection buffer of a pick at every point of a 20-pixel grid over the
// window, in three views, one line per point: natively (Mesa) and in the browser (the web
// layer), built from this one file, so that web/test/browser_test.mjs can compare them.
// Each pick is the program's own: its projection, camera and frame, under the same names.
#include <GL/glut.h>
#include <cstdio>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "view/view.h"

constexpr int GRID_STEP = 20; // pixels between picks, starting half a step in

// One view of the grid: the camera, the rods' angles and slides, the ball.
struct GridView {
    float tiltX, rotY, rotZ, distance;
    int panX, panY;
    float rodAngle; // degrees, rod i turned by i times this
    float rodSlide; // model units, rod i slid by (i % 3 - 1) times this
    int ballOn;
};

static const GridView VIEWS[] = {
    {16.0f, 0.0f, 0.0f, 400.0f, 0, 0, 0.0f, 0.0f, 0},         // the view at start-up
    {40.0f, 35.0f, 0.0f, 300.0f, 0, 0, 35.0f, 4.0f, 1},       // turned, rods turned, ball on
    {-10.0f, -60.0f, 15.0f, 220.0f, 5, -3, 100.0f, -6.0f, 1}, // from below, rolled, panned
};

// Runs the program's selection pass at window (x, y) and prints its records.
static void dumpPick(int viewIndex, int x, int y) {
    static GLuint buffer[PICK_BUFFER_SIZE];
    for (GLuint& word : buffer) {
        word = static_cast<GLuint>(NAME_NONE);
    }
    glSelectBuffer(PICK_BUFFER_SIZE, buffer);
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(static_cast<GLuint>(NAME_NONE));
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glLoadIdentity();
    gluPickMatrix(x, viewport[3] - y, PICK_REGION, PICK_REGION, viewport);
    setCamera();
    display();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    const GLint hits = glRenderMode(GL_RENDER);

    std::printf("%d %d %d %d:", viewIndex, x, y, hits);
    int word = 0;
    for (int h = 0; h < hits && word < PICK_BUFFER_SIZE; h++) {
        const GLuint names = buffer[word];
        std::printf(" [%u %u %u", names, buffer[word + 1], buffer[word + 2]);
        for (GLuint n = 0; n < names; n++) {
            std::printf(" %d", static_cast<int>(buffer[word + 3 + n]));
        }
        std::printf("]");
        word += 3 + static_cast<int>(names);
    }
    std::printf("\n");
}

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    createWindow();
    initScene();
    reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
    for (int v = 0; v < static_cast<int>(sizeof VIEWS / sizeof VIEWS[0]); v++) {
        const GridView& g = VIEWS[v];
        view.tiltX = g.tiltX;
        view.rotY = g.rotY;
        view.rotZ = g.rotZ;
        view.viewDistance = g.distance;
        view.panX = g.panX;
        view.panY = g.panY;
        for (int i = 0; i < ROD_COUNT; i++) {
            rods[i].angle = g.rodAngle * i;
            while (rods[i].angle >= 360.0f) {
                rods[i].angle -= 360.0f;
            }
            rods[i].slide = g.rodSlide * static_cast<float>(i % 3 - 1);
        }
        ball.ballOn = g.ballOn;
        for (int y = GRID_STEP / 2; y < WINDOW_HEIGHT; y += GRID_STEP) {
            for (int x = GRID_STEP / 2; x < WINDOW_WIDTH; x += GRID_STEP) {
                dumpPick(v, x, y);
            }
        }
    }
    std::printf("END\n");
    std::fflush(stdout);
    return 0;
}
