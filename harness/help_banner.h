// What the harness and the tests read on the program's console: the help banner, as the
// program's lines (input/input.h) join up. Free of X11, for the handler tests too.
#pragma once

#include <iterator>
#include <numeric>
#include <string>

#include "input/input.h"

// What h and H print, byte for byte.
inline const std::string HELP_BANNER =
    std::accumulate(std::begin(HELP_LINES), std::end(HELP_LINES), std::string());
