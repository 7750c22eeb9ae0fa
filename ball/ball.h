// Ball: one step per frame while the ball is on. Called by display after every rod has
// been drawn, so the players' playerZ are those of the same frame.
#pragma once

// Tests the ball against the lowered players, draws it, moves it and bounces it off the
// wall bounds. Prints "Choque!" on a hit.
void stepBall();

// Draws the ball where it is, without moving it.
void drawBall();
