// Pictures of a window as the X server holds it: grabbed with XGetImage, compared, searched
// and written as PNG files.
#include "support/window_image.h"

#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// Position of the lowest set bit of a colour mask.
static int maskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1UL) == 0) {
        mask >>= 1;
        shift++;
    }
    return shift;
}

WindowImage WindowImage::grab(Display* dpy, Window window) {
    WindowImage picture;
    XWindowAttributes attributes{};
    if (dpy == nullptr || window == 0 || XGetWindowAttributes(dpy, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return picture;
    }
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return picture;
    }
    const int redShift = maskShift(image->red_mask);
    const int greenShift = maskShift(image->green_mask);
    const int blueShift = maskShift(image->blue_mask);
    picture.width_ = attributes.width;
    picture.height_ = attributes.height;
    picture.pixels_.reserve(static_cast<size_t>(picture.width_) * picture.height_);
    for (int y = 0; y < picture.height_; y++) {
        for (int x = 0; x < picture.width_; x++) {
            const unsigned long value = XGetPixel(image, x, y);
            picture.pixels_.push_back({static_cast<int>((value & image->red_mask) >> redShift),
                                       static_cast<int>((value & image->green_mask) >> greenShift),
                                       static_cast<int>((value & image->blue_mask) >> blueShift)});
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
    int count = 0;
    for (size_t i = 0; i < pixels_.size(); i++) {
        const Pixel& a = pixels_[i];
        const Pixel& b = other.pixels_[i];
        count += (a.r != b.r || a.g != b.g || a.b != b.b) ? 1 : 0;
    }
    return count;
}

int WindowImage::count(const std::function<bool(Pixel)>& test) const {
    int count = 0;
    for (const Pixel& pixel : pixels_) {
        count += test(pixel) ? 1 : 0;
    }
    return count;
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
    char ppmPath[] = "/tmp/orlemaz-picture-XXXXXX";
    const int fd = mkstemp(ppmPath);
    if (fd < 0) {
        return false;
    }
    FILE* file = fdopen(fd, "wb");
    std::fprintf(file, "P6\n%d %d\n255\n", width_, height_);
    for (const Pixel& pixel : pixels_) {
        std::fputc(pixel.r, file);
        std::fputc(pixel.g, file);
        std::fputc(pixel.b, file);
    }
    std::fclose(file);
    // ImageMagick writes the PNG, started without a shell so that no path is ever parsed.
    const std::string from = "ppm:" + std::string(ppmPath), to = "png:" + path;
    char* const argv[] = {const_cast<char*>("convert"), const_cast<char*>(from.c_str()),
                          const_cast<char*>(to.c_str()), nullptr};
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, "convert", nullptr, nullptr, argv, environ) == 0) {
        waitpid(pid, &status, 0);
    }
    unlink(ppmPath);
    return status == 0;
}
