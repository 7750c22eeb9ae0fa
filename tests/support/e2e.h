// The end-to-end tests' shared set-up: the real program started through the harness for
// each test, its window shown (and placed where a test says), its exit checked, and X
// errors turned into test failures.
#pragma once

// GoogleTest first: Xlib's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "harness/app_process.h"
#include "harness/help_banner.h"

// X errors other than about windows that have gone fail the test that made them.
inline const bool X_ERRORS_FAIL_THE_TEST = [] {
    onXError([](const std::string& error) { ADD_FAILURE() << error; });
    return true;
}();

// Where the picking and menu tests put the window: where it opened, moved, and resized.
extern const WindowPlacement WINDOW_PLACEMENTS[3];
// How GoogleTest names a placement in its messages.
inline void PrintTo(const WindowPlacement& placement, std::ostream* out) {
    *out << placement.name;
}

// The real program, started for the test, with its window on the X server showing the table.
class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override;
    AppProcess app;
};

// The same, with the window placed as the test's parameter says, and the start-up camera
// in that window's size.
class PlacedEndToEndTest : public EndToEndTest,
                           public ::testing::WithParamInterface<WindowPlacement> {
  protected:
    void SetUp() override;
    ViewState camera = startView();
};

// The test's names for the placements.
inline std::string placementName(const ::testing::TestParamInfo<WindowPlacement>& info) {
    return info.param.name;
}

// A z where every rod's bar lies over the pitch. Model units.
constexpr double OVER_PITCH_Z = 20.0;

// Points the end-to-end tests look at in the first picture: the pitch between rods 3 and 4,
// the floor behind the table, and the floor's far edge. Model units.
struct ModelPoint {
    double x, y, z;
};
inline const ModelPoint PITCH_MIDDLE = {tableDims.tableLength / 2.0, pitchY(), OVER_PITCH_Z};
inline const ModelPoint FLOOR_BEHIND = {tableDims.tableLength / 2.0, 0.0, -200.0};
inline const ModelPoint FLOOR_FAR_EDGE = {tableDims.tableLength / 2.0, 0.0, -FLOOR_HALF_SIZE};

// Where the camera puts a model point in the window.
inline WindowPoint windowPointOf(const ViewState& camera, const ModelPoint& p) {
    return windowPointOf(camera, p.x, p.y, p.z);
}

// The console line that a pick of the given name prints.
inline std::string idLine(int name) {
    return " Id: " + std::to_string(name) + " \n";
}

// Checks that app ends, after what (say "Escape"), with exit status 0.
void expectExitsWithZero(AppProcess& app, const std::string& what);
