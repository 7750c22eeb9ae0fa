// What the harness and the tests know of the program from outside: its window's title (the
// program's own constant), its pop-up menu's window and entries, and the help banner.
#pragma once

#include <string>

#include "app/scene_state.h"

// The title freeglut gives the pop-up menu's own window.
constexpr const char* MENU_TITLE = "freeglut menu";
// The menu's entries, top to bottom. They share the menu's height equally inside a border
// that freeglut draws round them.
enum MenuEntry { MOVE_MODEL = 0, MOVE_RODS = 1, TOGGLE_BALL = 2, QUIT = 3, MENU_ENTRIES = 4 };
constexpr int MENU_BORDER = 2; // pixels

// What h and H print, byte for byte.
const std::string HELP_BANNER = "\n PROYECTO CAD\n ORLEMAZ\n Escape: Salir\n\n\n";
