// Pictures of a window as the X server holds it: grabbed with XGetImage, compared, searched
// and written as PNG files.
#include "harness/window_image.h"

#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <png.h>

// One channel of an X pixel through its mask, scaled to 0 to 255 whatever its width.
static int channel(unsigned long value, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    unsigned long lowest = mask & (~mask + 1);
    const unsigned long maximum = mask / lowest;
    return static_cast<int>((value & mask) / lowest * 255 / maximum);
}

WindowImage WindowImage::grab(Display* dpy, Window window, int x, int y, int width, int height) {
    WindowImage picture;
    XWindowAttributes attributes{};
    if (dpy == nullptr || window == 0 || XGetWindowAttributes(dpy, window, &attributes) == 0) {
        return picture;
    }
    width = width < 0 ? attributes.width : width;
    height = height < 0 ? attributes.height : height;
    // Reading outside the window, or an unmapped one, is an X protocol error.
    if (attributes.map_state != IsViewable || x < 0 || y < 0 || width <= 0 || height <= 0 ||
        x + width > attributes.width || y + height > attributes.height) {
        return picture;
    }
    XImage* image = XGetImage(dpy, window, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return picture;
    }
    picture.width_ = width;
    picture.height_ = height;
    picture.pixels_.reserve(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; row++) {
        for (int column = 0; column < width; column++) {
            const unsigned long value = XGetPixel(image, column, row);
            picture.pixels_.push_back({channel(value, image->red_mask),
                                       channel(value, image->green_mask),
                                       channel(value, image->blue_mask)});
        }
    }
    XDestroyImage(image);
    return picture;
}

Pixel WindowImage::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return {-1, -1, -1};
    }
    return pixels_[static_cast<size_t>(y) * width_ + x];
}

int WindowImage::differences(const WindowImage& other) const {
    if (width_ != other.width_ || height_ != other.height_) {
        return static_cast<int>(std::max(pixels_.size(), other.pixels_.size()));
    }
    return std::inner_product(pixels_.begin(), pixels_.end(), other.pixels_.begin(), 0,
                              std::plus<>(), [](const Pixel& a, const Pixel& b) {
                                  return a.r != b.r || a.g != b.g || a.b != b.b ? 1 : 0;
                              });
}

int WindowImage::largestStep(const WindowImage& other) const {
    int largest = 0;
    for (size_t i = 0; i < pixels_.size() && i < other.pixels_.size(); i++) {
        const Pixel& a = pixels_[i];
        const Pixel& b = other.pixels_[i];
        largest =
            std::max({largest, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
    }
    return largest;
}

int WindowImage::count(const std::function<bool(Pixel)>& test) const {
    return static_cast<int>(std::count_if(pixels_.begin(), pixels_.end(), test));
}

bool WindowImage::anyNear(int x, int y, int radius, const std::function<bool(Pixel)>& test) const {
    for (int dy = -radius; dy <= radius; dy++) {
        for (int dx = -radius; dx <= radius; dx++) {
            const Pixel pixel = at(x + dx, y + dy);
            if (pixel.r >= 0 && test(pixel)) {
                return true;
            }
        }
    }
    return false;
}

bool WindowImage::savePng(const std::string& path) const {
    if (empty()) {
        return false;
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width_);
    png.height = static_cast<png_uint_32>(height_);
    png.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb;
    rgb.reserve(pixels_.size() * 3);
    for (const Pixel& pixel : pixels_) {
        rgb.insert(rgb.end(), {static_cast<png_byte>(pixel.r), static_cast<png_byte>(pixel.g),
                               static_cast<png_byte>(pixel.b)});
    }
    const bool written =
        png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return written;
}
