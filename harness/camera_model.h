// The program's camera as arithmetic on the program's own numbers (its view record, its
// frustum, its table): where a model point lands in the window. The tests, orlemaz-drive and,
// through it, the browser check all project with it; the handler tests check it against the
// matrices the program loads (tests/startup_test.cpp).
#pragma once

#include "app/scene_state.h"
#include "harness/x_server.h"

// The start-up view in a window whose inside is width x height pixels.
ViewState startView(int width = WINDOW_WIDTH, int height = WINDOW_HEIGHT);

// Turns a model-space direction into eye space by the view's rotations, as setCamera does.
void rotateIntoEye(const ViewState& view, double* x, double* y, double* z);

// Where a model point lands in view's window (view.winW x view.winH), origin top left, in
// fractional pixels; inFront when it lies between the near and the far plane.
struct WindowPosition {
    double x;
    double y;
    bool inFront;
};
WindowPosition projectPoint(const ViewState& view, double x, double y, double z);
// The pixel that point falls in (both coordinates rounded down).
WindowPoint windowPointOf(const ViewState& view, double x, double y, double z);
