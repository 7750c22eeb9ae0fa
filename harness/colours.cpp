// What a picture of the table shows, read by colour, from the program's materials, lights
// and figure.
#include "harness/colours.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

Pixel litColour(const Material& m, double nx, double ny, double nz, const ViewState& view) {
    constexpr double GLOBAL_AMBIENT = 0.2; // OpenGL's default light model, which the program keeps
    rotateIntoEye(view, &nx, &ny, &nz);
    const GLfloat* light = LIGHT0_POSITION;
    const double lightLength =
        std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    const double diffuse =
        std::max(0.0, (nx * light[0] + ny * light[1] + nz * light[2]) / lightLength);
    const auto lit = [&](int i) {
        return static_cast<int>(
            std::lround(255.0 * std::min(1.0, m.rgba[i] * (GLOBAL_AMBIENT + diffuse))));
    };
    return {lit(0), lit(1), lit(2)};
}

std::string probeColour(Pixel observed, Pixel expected, int tolerance) {
    const auto rgb = [](Pixel p) {
        return "(" + std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b) +
               ")";
    };
    const bool near =
        std::max({std::abs(observed.r - expected.r), std::abs(observed.g - expected.g),
                  std::abs(observed.b - expected.b)}) <= tolerance;
    return near ? ""
                : "shows " + rgb(observed) + ", expected " + rgb(expected) + " within " +
                      std::to_string(tolerance);
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

bool showsPlayer(const WindowImage& picture, const ViewState& camera, int team, double rodX,
                 double playerZ) {
    const TableDims table;
    const double headY = rodAxisY() + HEAD_ABOVE_AXIS;
    const double bodyY = headY - NECK_BELOW_HEAD - BODY_BELOW_NECK;
    constexpr double ASIDE = 1.0;        // off the bar's axis (the bar's radius is 0.5)
    constexpr double BELOW_CENTRE = 0.5; // model units
    // The bar hides the body's middle; look beside it on the camera's side.
    const double side = rodX < table.tableLength / 2.0 - camera.panX ? ASIDE : -ASIDE;
    const double across = ASIDE / BODY_RADIUS;
    const double upright = BELOW_CENTRE / (BODY_STRETCH_Y * BODY_RADIUS);
    const double front = BODY_RADIUS * std::sqrt(1.0 - across * across - upright * upright);
    const WindowPoint body =
        windowPointOf(camera, rodX + side, bodyY - BELOW_CENTRE, playerZ + front);
    const WindowPoint head = windowPointOf(camera, rodX, headY, playerZ);
    const WindowPoint aboveHead = windowPointOf(camera, rodX, headY + 2.0 * HEAD_RADIUS, playerZ);
    return picture.anyNear(body.x, body.y, 1, team == 0 ? isTeam0Shirt : isTeam1Shirt) &&
           picture.anyNear(head.x, head.y, 1, isPlayerPurple) &&
           !picture.anyNear(aboveHead.x, aboveHead.y, 1, isPlayerPurple);
}
