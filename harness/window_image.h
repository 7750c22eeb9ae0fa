// Pictures of a window as the X server holds it: grabbed with XGetImage and read through
// the visual's colour masks, compared, searched and written as PNG files (libpng).
#pragma once

#include <X11/Xlib.h>
#include <functional>
#include <string>
#include <vector>

// One pixel as the X server shows it, each channel 0 to 255 (-1 outside the picture).
struct Pixel {
    int r, g, b;
};

// A picture of a window, or of a part of it, as the X server holds it, origin top left.
class WindowImage {
  public:
    // Reads the width x height pixels at (x, y) of the window, by default all of it; empty
    // when they do not lie inside it or the window cannot be read.
    static WindowImage grab(Display* dpy, Window window, int x = 0, int y = 0, int width = -1,
                            int height = -1);

    bool empty() const {
        return pixels_.empty();
    }
    int width() const {
        return width_;
    }
    int height() const {
        return height_;
    }
    Pixel at(int x, int y) const;
    // Pixels that differ from other (every pixel when the sizes differ).
    int differences(const WindowImage& other) const;
    // The largest difference in any one channel of any pixel, 0 to 255 (the same sizes).
    int largestStep(const WindowImage& other) const;
    // Pixels that pass test.
    int count(const std::function<bool(Pixel)>& test) const;
    // Whether a pixel within radius pixels (a square) of (x, y) passes test.
    bool anyNear(int x, int y, int radius, const std::function<bool(Pixel)>& test) const;
    // Writes the picture to path as an 8-bit RGB PNG; returns success.
    bool savePng(const std::string& path) const;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Pixel> pixels_;
};
