# Sourced by every script: the Debian packages each needs, composed from the pieces below so
# that each package is named once for each purpose, and the shared helpers (scripts/lib/).
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# A virtual X server.
X_SERVER_PACKAGES=(xvfb xauth)
# X input: xdotool sends events.
X_TOOL_PACKAGES=(xdotool)
# The validators of the desktop entry, the AppStream data and the manual page.
VALIDATOR_PACKAGES=(desktop-file-utils appstream man-db groff-base)
# CMake and make, for the builds whose compilers come from elsewhere.
CMAKE_PACKAGES=(cmake make)

# What building the program needs.
BUILD_PACKAGES=(build-essential "${CMAKE_PACKAGES[@]}" freeglut3-dev libglu1-mesa-dev
    libgl1-mesa-dev libgl1-mesa-dri libx11-dev libxi-dev libpng-dev)
# What scripts/run needs without a display.
HEADLESS_PACKAGES=("${X_SERVER_PACKAGES[@]}")
# What the tests need besides building: GoogleTest, a window manager to frame the window,
# python3 to read CTest's JUnit report and the soak's memory, and the validators of the
# installed files.
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev "${HEADLESS_PACKAGES[@]}"
    "${X_TOOL_PACKAGES[@]}" openbox python3 "${VALIDATOR_PACKAGES[@]}")
# What the benchmark and the frame-rate measurement need besides building: Google Benchmark
# and glxgears for comparison.
BENCH_PACKAGES=(libbenchmark-dev "${HEADLESS_PACKAGES[@]}" "${X_TOOL_PACKAGES[@]}" mesa-utils)
# What the Windows cross-build needs: MinGW-w64 (its win32-threads flavour, which is all the
# program needs; its binutils bring windres, the resource compiler), patch for the mend
# applied to freeglut's source, rsvg-convert (librsvg2-bin) and icotool (icoutils) to draw
# the exe's icon, zip for the archive, and wixl for the installer.
WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-x86-64-win32 "${CMAKE_PACKAGES[@]}" patch librsvg2-bin
    icoutils zip wixl)
# What running the Windows build under wine needs besides the tests' packages: wine, unzip
# to take the exe out of the archive, wrestool (icoutils) to read the exe's resources, and
# msiinfo (msitools) to read the installer's.
WINE_PACKAGES=(wine wine64 unzip icoutils msitools)
# What scripts/package needs to build the Debian package: dpkg-shlibdeps for its
# dependencies, and file, through which CPack finds the binaries to strip.
PACKAGE_PACKAGES=(dpkg-dev file)
# What scripts/package --check needs besides: lintian, the validators, and what runs the
# installed program without a display.
PACKAGE_CHECK_PACKAGES=(lintian "${VALIDATOR_PACKAGES[@]}" "${HEADLESS_PACKAGES[@]}")
# What the browser build needs: Emscripten (it brings its own GLUT), Debian's node for its
# JavaScript tools, terser to minify the page's JavaScript, rsvg-convert (librsvg2-bin) and
# pngquant to draw the icon's pictures, zip for the archive, and python3 to serve the page.
WEB_BUILD_PACKAGES=(emscripten nodejs terser librsvg2-bin pngquant zip "${CMAKE_PACKAGES[@]}"
    python3)
# What the browser check needs besides: the three engines (Chromium, Firefox ESR, and
# WebKitGTK's MiniBrowser with its WebDriver), a virtual X server for the windows of the last
# two and for the native side (the selection comparison under Mesa, the camera), the
# native build, and unzip to unpack the archive the check runs on. (npm, for the check's
# drivers, is installed apart: a node from elsewhere brings its own.)
WEB_CHECK_PACKAGES=(chromium firefox-esr webkit2gtk-driver "${X_SERVER_PACKAGES[@]}"
    "${BUILD_PACKAGES[@]}" unzip)
# What scripts/bench-web needs besides the browser build: the three engines and a virtual X
# server for the windows of two of them. (npm as for the check.)
WEB_BENCH_PACKAGES=(chromium firefox-esr webkit2gtk-driver "${X_SERVER_PACKAGES[@]}")
# What the storm in the browser needs besides the browser build: headless Chromium, which
# draws WebGL without an X server. (npm as for the check.)
WEB_STORM_PACKAGES=(chromium)
