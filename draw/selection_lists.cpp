// The display lists that selection passes draw the primitives from. Mesa 22.3 keeps a
// reference to every immediate-mode vertex buffer drawn in selection mode and never frees
// it: every pick lost its share of a 512 KB buffer. Vertices replayed from a display list
// are spared, so in a selection pass (pickObject marks it) each primitive is drawn from a
// list compiled from its very own calls the first time it is drawn with those arguments.
// Ordinary frames draw in immediate mode. The primitives (draw/primitives.cpp) call it.
#include "draw/draw.h"

#include <GL/glut.h>

constexpr int MAX_PRIMITIVE_ARGS = 8;
constexpr int MAX_SELECTION_LISTS = 32; // the frame needs 16

// One primitive, with its arguments, compiled into a display list.
struct SelectionList {
    int kind;                        // a SelectionPrimitive
    double args[MAX_PRIMITIVE_ARGS]; // the arguments it was drawn with, unused ones 0
    GLuint list;                     // display list name
};

static SelectionList selectionLists[MAX_SELECTION_LISTS] = {};
static int selectionListCount = 0;
static GLuint compilingList = 0; // the list being compiled by the primitive running now
static bool inSelectionPass = false;
static int immediateInSelection = 0; // primitives a full table left to immediate mode

// Marks the start (on) or the end of a selection pass.
void setSelectionPass(bool on) {
    inSelectionPass = on;
}

// Outside a selection pass, returns false: draw in immediate mode. In one, replays the
// primitive's list and returns true; on its first use, opens the list and returns false, so
// that the primitive's own calls fill it and endSelectionList replays it.
bool replaySelectionList(SelectionPrimitive kind, std::initializer_list<double> argList) {
    if (!inSelectionPass) {
        return false;
    }
    double args[MAX_PRIMITIVE_ARGS] = {};
    int count = 0;
    for (const double arg : argList) {
        if (count < MAX_PRIMITIVE_ARGS) {
            args[count++] = arg;
        }
    }
    for (int i = 0; i < selectionListCount; i++) {
        const SelectionList& entry = selectionLists[i];
        bool same = entry.kind == kind;
        for (int a = 0; a < MAX_PRIMITIVE_ARGS && same; a++) {
            same = entry.args[a] == args[a];
        }
        if (same) {
            glCallList(entry.list);
            return true;
        }
    }
    if (selectionListCount == MAX_SELECTION_LISTS || (compilingList = glGenLists(1)) == 0) {
        immediateInSelection++;
        return false;
    }
    SelectionList& entry = selectionLists[selectionListCount++];
    entry.kind = kind;
    for (int a = 0; a < MAX_PRIMITIVE_ARGS; a++) {
        entry.args[a] = args[a];
    }
    entry.list = compilingList;
    glNewList(compilingList, GL_COMPILE);
    return false;
}

// Closes and replays the list that replaySelectionList opened, if it opened one.
void endSelectionList() {
    if (compilingList != 0) {
        glEndList();
        glCallList(compilingList);
        compilingList = 0;
    }
}

// How many primitives selection passes have drawn in immediate mode for want of room.
int selectionListMisses() {
    return immediateInSelection;
}
