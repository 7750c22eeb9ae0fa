// Geometry primitives: tube, disc, box, flat rectangle and axis lines, each drawn in the
// current modelview frame with explicit normals. None of them sets a material. In a
// selection pass each one is drawn through a display list (draw/selection_lists.cpp).
#include "draw/draw.h"

#include <GL/glut.h>
#include <cmath>
#include <initializer_list>

// Draws a primitive's own calls, geometry; in a selection pass they reach OpenGL through the
// primitive's display list (draw/selection_lists.cpp).
template <typename Geometry>
static void drawPrimitive(SelectionPrimitive kind, std::initializer_list<double> args,
                          Geometry geometry) {
    if (!replaySelectionList(kind, args)) {
        geometry();
        endSelectionList();
    }
}

// ---------------------------------------------------------------------------------------
// Vectors and primitives
// ---------------------------------------------------------------------------------------

// Scales v to unit length; the zero vector stays zero.
void normalize(Vec3d* v) {
    const double length = std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
    if (length != 0.0) {
        v->x /= length;
        v->y /= length;
        v->z /= length;
    } else {
        v->x = 0.0;
        v->y = 0.0;
        v->z = 0.0;
    }
}

// out = u x v.
void crossProduct(Vec3d u, Vec3d v, Vec3d* out) {
    out->x = u.y * v.z - u.z * v.y;
    out->y = u.z * v.x - v.z * u.x;
    out->z = v.y * u.x - u.y * v.x;
}

// Open tube from the origin to p1 as a quad strip of slices + 1 vertex pairs.
void drawTube(double p1x, double p1y, double p1z, double radiusAtOrigin, double radiusAtEnd,
              int slices, double theta1, double theta2) {
    const std::initializer_list<double> args = {
        p1x, p1y, p1z, radiusAtOrigin, radiusAtEnd, static_cast<double>(slices), theta1, theta2};
    drawPrimitive(PRIMITIVE_TUBE, args, [&] {
        // Two axes perpendicular to the tube: P is N nudged off the axis, so N x P is never zero.
        // Y is built from P rather than N, which makes the cross-section slightly elliptical
        // for short tubes.
        const Vec3d n = {-p1x, -p1y, -p1z};
        Vec3d p = n;
        if (n.x == 0.0 && n.z == 0.0) {
            p.x += 1.0;
        } else {
            p.y += 1.0;
        }
        Vec3d axisX = {};
        Vec3d axisY = {};
        crossProduct(n, p, &axisX);
        crossProduct(p, axisX, &axisY);
        normalize(&axisY);
        normalize(&axisX);

        const bool fullTurn = theta1 == 0.0 && theta2 == 0.0;
        if (fullTurn) {
            theta2 = TWO_PI_APPROX;
        }

        glBegin(GL_QUAD_STRIP);
        {
            for (int i = 0; i <= slices; i++) {
                // The last step of a full turn lands exactly on the first edge, closing the strip.
                double theta = theta1 + i * (theta2 - theta1) / slices;
                if (fullTurn && i == slices) {
                    theta = 0.0;
                }
                Vec3d radial = {std::cos(theta) * axisY.x + std::sin(theta) * axisX.x,
                                std::cos(theta) * axisY.y + std::sin(theta) * axisX.y,
                                std::cos(theta) * axisY.z + std::sin(theta) * axisX.z};
                normalize(&radial);
                const float s = static_cast<float>(i) / static_cast<float>(slices);

                glNormal3f(radial.x, radial.y, radial.z);
                glTexCoord2f(s, 1.0f);
                glVertex3f(p1x + radiusAtEnd * radial.x, p1y, p1z + radiusAtEnd * radial.z);
                glNormal3f(radial.x, radial.y, radial.z);
                glTexCoord2f(s, 0.0f);
                glVertex3f(radiusAtOrigin * radial.x, 0.0f, radiusAtOrigin * radial.z);
            }
        }
        glEnd();
    });
}

// Flat disc in the y = 0 plane, wound counter-clockwise seen from the side it faces.
void drawDisc(double radius, int segments, int facing) {
    const std::initializer_list<double> args = {radius, static_cast<double>(segments),
                                                static_cast<double>(facing)};
    drawPrimitive(PRIMITIVE_DISC, args, [&] {
        const double step = TWO_PI_APPROX / segments;
        glBegin(GL_POLYGON);
        {
            glNormal3f(0.0f, static_cast<float>(facing), 0.0f);
            const int first = facing == -1 ? segments : 0;
            const int last = facing == -1 ? 0 : segments;
            const int direction = facing == -1 ? -1 : 1;
            for (int i = first; i != last + direction; i += direction) {
                // The last vertex closes the outline on the first one.
                const double theta = i == segments ? 0.0 : i * step;
                glVertex3f(radius * std::sin(theta), 0.0f, radius * std::cos(theta));
            }
        }
        glEnd();
    });
}

// The four faces of the box that its quad strip goes round.
static void drawBoxSides(float sx, float sy, float sz) {
    drawPrimitive(PRIMITIVE_BOX_SIDES, {sx, sy, sz}, [&] {
        // Normals are set once per face, so smooth shading blends them across the strip's
        // shared edges.
        glBegin(GL_QUAD_STRIP);
        {
            glNormal3f(0.0f, 0.0f, -1.0f);
            glVertex3f(sx, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(sx, sy, 0.0f);
            glVertex3f(0.0f, sy, 0.0f);
            glNormal3f(0.0f, 1.0f, 0.0f);
            glVertex3f(sx, sy, sz);
            glVertex3f(0.0f, sy, sz);
            glNormal3f(0.0f, 0.0f, 1.0f);
            glVertex3f(sx, 0.0f, sz);
            glVertex3f(0.0f, 0.0f, sz);
            glNormal3f(0.0f, -1.0f, 0.0f);
            glVertex3f(sx, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
        }
        glEnd();
    });
}

// The box's two end caps, at x = sx and x = 0.
static void drawBoxEnds(float sx, float sy, float sz) {
    drawPrimitive(PRIMITIVE_BOX_ENDS, {sx, sy, sz}, [&] {
        glBegin(GL_QUADS);
        {
            glNormal3f(1.0f, 0.0f, 0.0f);
            glVertex3f(sx, 0.0f, 0.0f);
            glVertex3f(sx, sy, 0.0f);
            glVertex3f(sx, sy, sz);
            glVertex3f(sx, 0.0f, sz);
        }
        glEnd();
        glBegin(GL_QUADS);
        {
            glNormal3f(-1.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, sz);
            glVertex3f(0.0f, sy, sz);
            glVertex3f(0.0f, sy, 0.0f);
        }
        glEnd();
    });
}

// Box from the origin to (sx, sy, sz): four faces as one strip, then the two end caps.
void drawBox(float sx, float sy, float sz) {
    glPushMatrix();
    {
        glShadeModel(GL_SMOOTH);
        drawBoxSides(sx, sy, sz);
        drawBoxEnds(sx, sy, sz);
    }
    glPopMatrix();
}

// Rectangle (x1, z1)-(x2, z2) in the y = 0 plane, facing +y.
void drawFlatQuad(float x1, float z1, float x2, float z2) {
    drawPrimitive(PRIMITIVE_QUAD, {x1, z1, x2, z2}, [&] {
        glPushMatrix();
        {
            glBegin(GL_QUADS);
            {
                glNormal3f(0.0f, 1.0f, 0.0f);
                glVertex3f(x1, 0.0f, z1);
                glVertex3f(x1, 0.0f, z2);
                glVertex3f(x2, 0.0f, z2);
                glVertex3f(x2, 0.0f, z1);
            }
            glEnd();
        }
        glPopMatrix();
    });
}

// Axis lines from the origin. They are lit under whatever normal is current.
void drawAxes(float len) {
    drawPrimitive(PRIMITIVE_AXES, {len}, [&] {
        glBegin(GL_LINES);
        {
            glColor3f(1.0f, 1.0f, 1.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, len, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(len, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, 0.0f);
            glVertex3f(0.0f, 0.0f, len);
        }
        glEnd();
    });
}
