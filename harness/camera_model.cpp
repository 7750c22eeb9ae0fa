// The program's camera as arithmetic: setCamera's rotations, translation and frustum in
// double precision, then the viewport that reshape sets.
#include "harness/camera_model.h"

#include <cmath>

ViewState startView(int width, int height) {
    ViewState view;
    view.winW = static_cast<float>(width);
    view.winH = static_cast<float>(height);
    return view;
}

void rotateIntoEye(const ViewState& view, double* x, double* y, double* z) {
    constexpr double DEGREES = 3.14159265358979323846 / 180.0;
    // The last rotation given acts first: z, then y, then x.
    double c = std::cos(view.rotZ * DEGREES), s = std::sin(view.rotZ * DEGREES);
    const double x1 = c * *x - s * *y, y1 = s * *x + c * *y;
    c = std::cos(view.rotY * DEGREES), s = std::sin(view.rotY * DEGREES);
    const double x2 = c * x1 + s * *z, z2 = -s * x1 + c * *z;
    c = std::cos(view.tiltX * DEGREES), s = std::sin(view.tiltX * DEGREES);
    *x = x2;
    *y = c * y1 - s * z2;
    *z = s * y1 + c * z2;
}

WindowPosition projectPoint(const ViewState& view, double x, double y, double z) {
    rotateIntoEye(view, &x, &y, &z);
    // setCamera's translation, with its integer halving of the table's size.
    const TableDims table;
    x += -table.tableLength / 2 + view.panX;
    y += -table.tableWidth / 2 + view.panY;
    z -= view.viewDistance;
    // The frustum spans +-1 across and +-height/width up at the near plane (a square before
    // the first reshape).
    const double aspect = view.winW > 0.0f && view.winH > 0.0f ? view.winH / view.winW : 1.0;
    const double ndcX = FRUSTUM_NEAR * x / -z;
    const double ndcY = FRUSTUM_NEAR * y / -z / aspect;
    return {(ndcX + 1.0) / 2.0 * view.winW, (1.0 - ndcY) / 2.0 * view.winH,
            -z > FRUSTUM_NEAR && -z < FRUSTUM_FAR};
}

WindowPoint windowPointOf(const ViewState& view, double x, double y, double z) {
    const WindowPosition at = projectPoint(view, x, y, z);
    return {static_cast<int>(std::floor(at.x)), static_cast<int>(std::floor(at.y))};
}
