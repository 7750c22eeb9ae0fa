// Pictures of a window as the X server holds it: grabbed with XGetImage, compared, searched
// and written as PNG files.
#pragma once

#include <X11/Xlib.h>
#include <functional>
#include <string>
#include <vector>

// One pixel as the X server shows it, each channel 0 to 255 (-1 outside the picture).
struct Pixel {
    int r;
    int g;
    int b;
};

// A picture of a window as the X server holds it (XGetImage), origin top left.
class WindowImage {
  public:
    // Reads the whole window; the picture is empty when the window cannot be read.
    static WindowImage grab(Display* dpy, Window window);

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
    // Pixels that pass test.
    int count(const std::function<bool(Pixel)>& test) const;
    // Whether a pixel within radius pixels (a square) of (x, y) passes test.
    bool anyNear(int x, int y, int radius, const std::function<bool(Pixel)>& test) const;
    // Writes the picture to path as a PNG (through ImageMagick); returns success.
    bool savePng(const std::string& path) const;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Pixel> pixels_;
};
