// Prints, in each of three views, the program's picture and then the whole selection buffer
// of a pick at every point of a 20-pixel grid over the window, one line per point: natively
// (Mesa) and in the browser (the web layer), built from this one file, so that
// web/test/browser_test.mjs can compare them; last, the mean time of a pick with its line.
// Each pick is the program's own selection pass.
#include <GL/glut.h>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "app/scene_state.h"
#include "draw/draw.h"
#include "input/input.h"
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

// Draws a frame of the view set up and prints its pixels: "PICTURE view width height", then
// one line "P" and the row's red, green and blue bytes in hexadecimal per row, bottom row
// first. Each view's frame follows the last one's, as frames do while the user moves.
static void dumpPicture(int viewIndex) {
    resetProjection();
    display();
#ifndef __EMSCRIPTEN__
    // The window is not mapped yet, so its front buffer holds nothing; Mesa's software
    // renderer swaps by copying and keeps the frame in the back buffer.
    glReadBuffer(GL_BACK);
#endif
    std::vector<unsigned char> rgba(WINDOW_WIDTH * WINDOW_HEIGHT * 4);
    glReadPixels(0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::printf("PICTURE %d %d %d\n", viewIndex, WINDOW_WIDTH, WINDOW_HEIGHT);
    for (int y = 0; y < WINDOW_HEIGHT; y++) {
        std::printf("P ");
        for (int x = 0; x < WINDOW_WIDTH; x++) {
            const unsigned char* p = &rgba[(y * WINDOW_WIDTH + x) * 4];
            std::printf("%02x%02x%02x", p[0], p[1], p[2]);
        }
        std::printf("\n");
    }
}

// Runs the program's selection pass at window (x, y) and prints its records.
static void dumpPick(int viewIndex, int x, int y) {
    static GLuint buffer[PICK_BUFFER_SIZE];
    const GLint hits = runSelectionPass(x, y, buffer);

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
    int picks = 0;
    const auto start = std::chrono::steady_clock::now();
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
        dumpPicture(v);
        for (int y = GRID_STEP / 2; y < WINDOW_HEIGHT; y += GRID_STEP) {
            for (int x = GRID_STEP / 2; x < WINDOW_WIDTH; x += GRID_STEP) {
                dumpPick(v, x, y);
                picks++;
            }
        }
    }
    const std::chrono::duration<double, std::milli> spent =
        std::chrono::steady_clock::now() - start;
    std::printf("PICKS %d, %.3f ms each\n", picks, spent.count() / picks);
    std::printf("END\n");
    std::fflush(stdout);
    return 0;
}
