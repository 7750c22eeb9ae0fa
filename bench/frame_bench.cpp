// Frame-rate benchmark: in the program's own window on the real renderer, times one ordinary
// frame (display with the ball on), the floor (a frame that only clears and swaps), the
// ceiling (the same frame's geometry replayed from a display list recorded once) and one
// pick at a rod, each finished with glFinish, then prints the ratios between them.
// Run it on an X server (scripts/bench starts a virtual one).
#include <benchmark/benchmark.h>

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/app.h"
#include "app/scene_state.h"
#include "ball/ball.h"
#include "draw/draw.h"
#include "harness/in_process.h"
#include "input/input.h"
#include "view/view.h"

namespace {

constexpr double FRAME_CEILING_TARGET = 1.2; // an ordinary frame over the display-list frame
constexpr double PICK_FRAMES_TARGET = 1.5;   // a pick over an ordinary frame

// A point on rod 3's bar, between its second and third players, over the playing surface:
// a pick there hits the floor, the table and the rod, in that order.
constexpr int PICKED_ROD = 3;

GLuint frameGeometryList = 0; // display list holding one frame's geometry, ball included
BallState recordedBall;       // the ball as the display list holds it
int pickX = 0;                // window pixels, origin top left
int pickY = 0;

// CPU time of the calling thread, in milliseconds.
double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// For one run of a benchmark: keeps the console (the program's "Choque!" lines) out of the
// report, and reports the calling thread's CPU
// time per iteration as the counter main_thread_ms (Google Benchmark's own CPU column counts
// every thread of the process, llvmpipe's rasterisers included).
class BenchmarkScope {
  public:
    explicit BenchmarkScope(benchmark::State& state)
        : state_(state), startMs_(threadCpuMilliseconds()) {}
    ~BenchmarkScope() {
        state_.counters["main_thread_ms"] = benchmark::Counter(threadCpuMilliseconds() - startMs_,
                                                               benchmark::Counter::kAvgIterations);
    }
    BenchmarkScope(const BenchmarkScope&) = delete;
    BenchmarkScope& operator=(const BenchmarkScope&) = delete;

  private:
    ConsoleCapture quiet_;
    benchmark::State& state_;
    double startMs_ = 0.0;
};

// Records what display draws for one frame with the ball on, without the clear, the swap
// and the ball's motion, into a display list: the program's own drawing routines.
GLuint recordFrameGeometry() {
    recordedBall = ball;
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    {
        drawScene();
        drawBall();
    }
    glEndList();
    return list;
}

// Clears and swaps, as display does, drawing nothing.
void floorFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFlush();
    glutSwapBuffers();
    glutPostRedisplay();
}

// Clears, replays the recorded frame geometry and swaps, as display does.
void ceilingFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glCallList(frameGeometryList);
    glFlush();
    glutSwapBuffers();
    glutPostRedisplay();
}

// How far the display-list frame is from the ordinary frame drawn with the ball where the
// list holds it.
struct PictureDifference {
    long pixels = -1;    // pixels that differ; -1 when the window could not be read
    int largestStep = 0; // largest difference in any one channel, 0 to 255
};

// Draws both frames and compares the window's pixels channel by channel.
PictureDifference compareCeilingWithFrame() {
    const BallState running = ball;
    ball = recordedBall;
    ball.ballOn = 1;
    display();
    const WindowImage ordinary = grabProgramWindow();
    ball = running;
    ceilingFrame();
    const WindowImage replayed = grabProgramWindow();
    PictureDifference difference;
    if (!ordinary.empty() && !replayed.empty()) {
        difference.pixels = ordinary.differences(replayed);
        difference.largestStep = ordinary.largestStep(replayed);
    }
    return difference;
}

// Finds the window pixel of a point on the picked rod's bar, between two of its players.
bool findPickPoint() {
    const Rod& r = rods[PICKED_ROD];
    const double barY = rodAxisY();
    const double gapZ = firstPlayerZ(r.playerCount) + 1.5 * tableDims.playerSpacing + r.slide;
    GLdouble modelview[16] = {};
    GLdouble projection[16] = {};
    GLint viewport[4] = {};
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble wx = 0.0, wy = 0.0, wz = 0.0;
    if (gluProject(r.x, barY, gapZ, modelview, projection, viewport, &wx, &wy, &wz) != GL_TRUE) {
        return false;
    }
    pickX = static_cast<int>(wx + 0.5);
    pickY = viewport[3] - static_cast<int>(wy + 0.5);
    return true;
}

// The smallest and largest of the repetitions, beside Google Benchmark's mean and median.
double smallest(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}
double largest(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

// One left click on the rod: the selection pass and the view reload that follows it.
// Successive clicks bind and release the rod in turn, through the same selection pass.
void clickRod() {
    pickObject(pickX, pickY);
    resetProjection();
}

// Times one kind of frame (or pick), each finished with glFinish, with the ball on.
template <void (*frame)()> void timeEach(benchmark::State& state) {
    BenchmarkScope scope(state);
    ball.ballOn = 1;
    for (auto _ : state) {
        frame();
        glFinish();
    }
}

// Prints Google Benchmark's table and keeps each benchmark's wall and CPU times (the medians
// when repeated) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that a saved report reads cleanly.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !repeated_)) {
                wall_[name] = run.GetAdjustedRealTime();
                cpu_[name] = run.GetAdjustedCPUTime();
                const auto mainThread = run.counters.find("main_thread_ms");
                mainThread_[name] =
                    mainThread == run.counters.end() ? 0.0 : mainThread->second.value;
            }
            repeated_ = repeated_ || median;
        }
    }

    // Prints frame/floor, frame/ceiling and pick/frame, and whether each target was met.
    void printRatios() const {
        const double floor = find(wall_, "frameFloor");
        const double frame = find(wall_, "ordinaryFrame");
        const double ceiling = find(wall_, "frameCeiling");
        const double pick = find(wall_, "pickAtRod");
        std::printf("\nRatios of %s wall times:\n", repeated_ ? "median" : "single-run");
        if (floor > 0.0 && frame > 0.0) {
            std::printf("  frame / floor   = %.2f\n", frame / floor);
        }
        if (ceiling > 0.0 && frame > 0.0) {
            std::printf("  frame / ceiling = %.2f  (target <= %.1f: %s)\n", frame / ceiling,
                        FRAME_CEILING_TARGET,
                        frame / ceiling <= FRAME_CEILING_TARGET ? "met" : "NOT met");
            // All the work, whichever thread did it; and the calling thread alone, which
            // issues the drawing and transforms the vertices.
            std::printf("  frame / ceiling, CPU time of all threads = %.2f\n",
                        find(cpu_, "ordinaryFrame") / find(cpu_, "frameCeiling"));
            std::printf("  frame / ceiling, CPU time of the main thread = %.2f\n",
                        find(mainThread_, "ordinaryFrame") / find(mainThread_, "frameCeiling"));
        }
        if (pick > 0.0 && frame > 0.0) {
            std::printf("  pick / frame    = %.2f  (target <= %.1f: %s)\n", pick / frame,
                        PICK_FRAMES_TARGET, pick / frame <= PICK_FRAMES_TARGET ? "met" : "NOT met");
        }
        std::fflush(stdout);
    }

  private:
    static double find(const std::map<std::string, double>& times, const std::string& name) {
        const auto found = times.find(name);
        return found == times.end() ? 0.0 : found->second;
    }

    bool repeated_ = false;                    // true once a median has been reported
    std::map<std::string, double> wall_;       // milliseconds
    std::map<std::string, double> cpu_;        // milliseconds, every thread of the process
    std::map<std::string, double> mainThread_; // milliseconds, the calling thread only
};

// Every benchmark is timed by the wall clock, llvmpipe rasterising on threads of its own;
// its CPU time is that of the whole process.
void registerBenchmarks() {
    // The floor: a frame that only clears and swaps, the cost no frame can go below. The
    // ordinary frame of the running program. The ceiling: the same frame's geometry from the
    // display list, the best this scene can do on this renderer. One click on the rod.
    const std::pair<const char*, void (*)(benchmark::State&)> all[] = {
        {"frameFloor", timeEach<floorFrame>},
        {"ordinaryFrame", timeEach<display>},
        {"frameCeiling", timeEach<ceilingFrame>},
        {"pickAtRod", timeEach<clickRod>},
    };
    for (const auto& entry : all) {
        benchmark::RegisterBenchmark(entry.first, entry.second)
            ->UseRealTime()
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("min", smallest)
            ->ComputeStatistics("max", largest);
    }
}

} // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv); // GLUT takes its own options (-display, ...) first
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!openProgramWindow()) {
        std::fprintf(stderr, "The window was never mapped.\n");
        return 1;
    }
    frameGeometryList = recordFrameGeometry();
    if (!findPickPoint()) {
        std::fprintf(stderr, "Rod %d is not in view.\n", PICKED_ROD);
        return 1;
    }

    // One of each before timing: llvmpipe compiles its shaders for each new kind of drawing
    // on first use. The pick point must bind the rod (name index + 2), or the pick figure
    // means nothing.
    {
        ConsoleCapture quiet;
        ball.ballOn = 1;
        display();
        ceilingFrame();
        clickRod();
        glFinish();
    }
    if (interaction.selectedId != PICKED_ROD + ROD_NAME_BASE) {
        std::fprintf(stderr, "A click at (%d, %d) read name %d, not rod %d's name %d.\n", pickX,
                     pickY, interaction.selectedId, PICKED_ROD, PICKED_ROD + ROD_NAME_BASE);
        return 1;
    }
    PictureDifference difference;
    {
        ConsoleCapture quiet;
        difference = compareCeilingWithFrame();
    }
    std::printf("Window %dx%d; pick at (%d, %d) on rod %d; renderer %s, %s\n", WINDOW_WIDTH,
                WINDOW_HEIGHT, pickX, pickY, PICKED_ROD,
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("The display-list frame differs from the ordinary frame in %ld of %d pixels, "
                "by at most %d of 255 in a channel.\n",
                difference.pixels, WINDOW_WIDTH * WINDOW_HEIGHT, difference.largestStep);
    std::fflush(stdout);

    registerBenchmarks();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
