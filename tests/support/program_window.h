// The program's window for code that calls its handlers directly (the tests and the
// benchmark): opened as main opens it, and waited for until the X server shows it.
#pragma once

// Opens the window, registers display and reshape, runs initScene and processes events
// until the window is viewable and has had its first reshape (20 s at most).
// NOTE: glutInit must have run. Returns false when the window never became ready.
bool openProgramWindow();
