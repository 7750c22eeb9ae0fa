// The display-list recorder: the calls between glNewList and glEndList, replayed by
// glCallList. A list of geometry alone (no matrix calls, no nested lists) keeps the box its
// vertices fill, so that a sink which cannot be reached there (a pick elsewhere) is spared
// its vertices: only the normal, colour and material it leaves behind are set.
#include "web/gl_layer.h"

#include <cmath>

// One recorded call with its arguments.
struct ListCommand {
    ListOp op;
    GLenum e1; // first enum argument (mode, face or list name)
    GLenum e2; // second enum argument (material parameter)
    float v[4];
};

struct DisplayList {
    std::vector<ListCommand> commands;
    bool bounded = false; // bounds holds all its geometry, which sits in the caller's frame
    Bounds bounds = {};
};

static struct ListState {
    std::vector<DisplayList> lists{1}; // list n at index n; 0 is no list
    GLuint compiling = 0;              // the list being recorded, or 0
} recorder;

bool recordInList(ListOp op, GLenum e1, GLenum e2, float a, float b, float c, float d) {
    if (recorder.compiling == 0) {
        return false;
    }
    recorder.lists[recorder.compiling].commands.push_back({op, e1, e2, {a, b, c, d}});
    return true;
}

void refuseInList(const char* call) {
    if (recorder.compiling != 0) {
        unsupportedGl(call);
    }
}

// The box of a list's vertices, grown by a margin far beyond the rounding of transforming
// its corners rather than its vertices; false when the list moves its own frame.
static bool listBounds(const std::vector<ListCommand>& commands, Bounds& bounds) {
    bool any = false;
    for (const ListCommand& c : commands) {
        if (c.op == OP_TRANSLATE || c.op == OP_ROTATE || c.op == OP_SCALE || c.op == OP_CALL) {
            return false;
        }
        if (c.op != OP_VERTEX) {
            continue;
        }
        for (int i = 0; i < 3; i++) {
            bounds.min[i] = any ? std::fmin(bounds.min[i], c.v[i]) : c.v[i];
            bounds.max[i] = any ? std::fmax(bounds.max[i], c.v[i]) : c.v[i];
        }
        any = true;
    }
    for (int i = 0; any && i < 3; i++) {
        const float margin = 1e-4f * (std::fabs(bounds.min[i]) + std::fabs(bounds.max[i]) + 1.0f);
        bounds.min[i] -= margin;
        bounds.max[i] += margin;
    }
    return any;
}

GLuint glGenLists(GLsizei range) {
    const GLuint first = static_cast<GLuint>(recorder.lists.size());
    recorder.lists.resize(recorder.lists.size() + range);
    return first;
}

void glNewList(GLuint list, GLenum mode) {
    if (list == 0 || list >= recorder.lists.size() || recorder.compiling != 0 ||
        mode != GL_COMPILE) {
        unsupportedGl("this glNewList");
    }
    recorder.lists[list] = DisplayList();
    recorder.compiling = list;
}

void glEndList() {
    if (recorder.compiling != 0) {
        DisplayList& list = recorder.lists[recorder.compiling];
        list.bounded = listBounds(list.commands, list.bounds);
    }
    recorder.compiling = 0;
}

// Replays one recorded call.
static void replay(const ListCommand& c) {
    switch (c.op) {
    case OP_BEGIN:
        glBegin(c.e1);
        break;
    case OP_END:
        glEnd();
        break;
    case OP_VERTEX:
        glVertex3f(c.v[0], c.v[1], c.v[2]);
        break;
    case OP_NORMAL:
        glNormal3f(c.v[0], c.v[1], c.v[2]);
        break;
    case OP_COLOUR:
        glColor3f(c.v[0], c.v[1], c.v[2]);
        break;
    case OP_TEXCOORD:
        glTexCoord2f(c.v[0], c.v[1]);
        break;
    case OP_PUSH:
        glPushMatrix();
        break;
    case OP_POP:
        glPopMatrix();
        break;
    case OP_TRANSLATE:
        glTranslatef(c.v[0], c.v[1], c.v[2]);
        break;
    case OP_ROTATE:
        glRotatef(c.v[0], c.v[1], c.v[2], c.v[3]);
        break;
    case OP_SCALE:
        glScalef(c.v[0], c.v[1], c.v[2]);
        break;
    case OP_MATERIAL:
        glMaterialfv(c.e1, c.e2, c.v);
        break;
    case OP_SHADE_MODEL:
        glShadeModel(c.e1);
        break;
    case OP_CALL:
        glCallList(c.e1);
        break;
    }
}

void glCallList(GLuint list) {
    if (recordInList(OP_CALL, list) || list == 0 || list >= recorder.lists.size()) {
        return;
    }
    const DisplayList& l = recorder.lists[list];
    const bool skipGeometry = l.bounded && !gl.sink->mayReach(l.bounds);
    for (const ListCommand& c : l.commands) {
        const bool geometry = c.op == OP_BEGIN || c.op == OP_END || c.op == OP_VERTEX;
        if (!(skipGeometry && geometry)) {
            replay(c);
        }
    }
}
