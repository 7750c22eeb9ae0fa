// The program's camera as arithmetic, for turning model points into window pixels, and
// what a picture of the table shows: the colours of its parts and where a player stands.
#include "harness/camera_model.h"

#include <cmath>
#include <cstdlib>

WindowPoint windowPointOf(const CameraModel& camera, double x, double y, double z) {
    constexpr double DEGREES = 3.14159265358979323846 / 180.0;
    const double viewportW = camera.width; // pixels
    const double viewportH = camera.height;
    constexpr double NEAR = 5.0;         // the near plane spans +-1 across
    constexpr double HALF_LENGTH = 50.0; // the table's length and width halved: the camera
    constexpr double HALF_WIDTH = 35.0;  // centres the table's x and z extents on x and y

    // The last rotation given acts first on a model point: z, then y, then x.
    double c = std::cos(camera.rotZ * DEGREES), s = std::sin(camera.rotZ * DEGREES);
    double ex = c * x - s * y, ey = s * x + c * y, ez = z;
    c = std::cos(camera.rotY * DEGREES), s = std::sin(camera.rotY * DEGREES);
    const double ex2 = c * ex + s * ez;
    ez = -s * ex + c * ez;
    ex = ex2;
    c = std::cos(camera.tiltX * DEGREES), s = std::sin(camera.tiltX * DEGREES);
    const double ey2 = c * ey - s * ez;
    ez = s * ey + c * ez;
    ey = ey2;
    ex += -HALF_LENGTH + camera.panX;
    ey += -HALF_WIDTH + camera.panY;
    ez -= camera.viewDistance;

    const double ndcX = NEAR * ex / -ez;
    const double ndcY = NEAR * ey / -ez / (viewportH / viewportW);
    return {static_cast<int>(std::floor((ndcX + 1.0) / 2.0 * viewportW)),
            static_cast<int>(std::floor((1.0 - ndcY) / 2.0 * viewportH))};
}

// Channels equal within rounding.
static bool isGrey(Pixel p) {
    return std::abs(p.r - p.g) <= 1 && std::abs(p.g - p.b) <= 1;
}

bool isTeam0Shirt(Pixel p) {
    return isGrey(p) && p.r >= 45; // white under the ambient light alone is 51
}

bool isTeam1Shirt(Pixel p) {
    return p.r <= 2 && p.g <= 2 && p.b >= 3; // 0.1 blue, at least 5 under ambient light
}

bool isPlayerPurple(Pixel p) {
    return p.b > p.r + 5 && p.r > 2 * p.g; // 0.5, 0.1, 1.0
}

bool isBall(Pixel p) {
    return isGrey(p) && p.r >= 1 && p.r <= 35; // 0.1 grey: 5 unlit, 31 fully lit
}

bool showsTable(const WindowImage& picture) {
    return picture.count(isTeam0Shirt) > 0;
}

bool showsPlayer(const WindowImage& picture, const CameraModel& camera, int team, double rodX,
                 double playerZ) {
    constexpr double BODY_Y = 28.0;      // body centre: the axis (30), less 2
    constexpr double BODY_RADIUS = 1.5;  // across; twice that upright
    constexpr double HEAD_Y = 33.0;      // head centre: the axis, plus 3; radius 1
    constexpr double ASIDE = 1.0;        // off the bar's axis (the bar's radius is 0.5)
    constexpr double BELOW_CENTRE = 0.5; // model units
    // The bar hides the body's middle; look beside it on the camera's side.
    const double side = rodX < 50.0 - camera.panX ? ASIDE : -ASIDE;
    const double across = ASIDE / BODY_RADIUS;
    const double upright = BELOW_CENTRE / (2.0 * BODY_RADIUS);
    const double front = BODY_RADIUS * std::sqrt(1.0 - across * across - upright * upright);
    const WindowPoint body =
        windowPointOf(camera, rodX + side, BODY_Y - BELOW_CENTRE, playerZ + front);
    const WindowPoint head = windowPointOf(camera, rodX, HEAD_Y, playerZ);
    const WindowPoint aboveHead = windowPointOf(camera, rodX, HEAD_Y + 2.0, playerZ);
    return picture.anyNear(body.x, body.y, 1, team == 0 ? isTeam0Shirt : isTeam1Shirt) &&
           picture.anyNear(head.x, head.y, 1, isPlayerPurple) &&
           !picture.anyNear(aboveHead.x, aboveHead.y, 1, isPlayerPurple);
}
