# Sourced by scripts/run, scripts/test, scripts/bench, scripts/fps, scripts/package,
# scripts/build-windows and scripts/build-web: the Debian packages each needs, and two helpers.

# Installs the Debian packages named in the arguments that are not installed yet (as root,
# or through sudo where present).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# Runs a command with its output appended to LOG; shows the log's last lines when it fails.
quietly() {
    local log=$1
    shift
    mkdir -p "$(dirname "$log")"
    if ! "$@" >>"$log" 2>&1; then
        echo "Failed: $* (the last lines of $log follow)" >&2
        tail -n 40 "$log" >&2
        return 1
    fi
}

# What building the program needs.
BUILD_PACKAGES=(build-essential cmake freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev
    libgl1-mesa-dri libx11-dev libxi-dev libpng-dev)
# What scripts/run needs without a display: a virtual X server.
HEADLESS_PACKAGES=(xvfb xauth)
# What the tests need besides: GoogleTest, a virtual X server, a window manager to frame
# the window, X input and inspection tools, python3 for the soak, and the validators of the
# installed desktop entry, AppStream data and manual page.
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libx11-dev xvfb xauth xdotool x11-utils python3
    openbox desktop-file-utils appstream man-db groff-base)
# What the benchmark and the frame-rate measurement need besides: Google Benchmark, a virtual
# X server, X input and inspection tools, and glxgears for comparison.
BENCH_PACKAGES=(libbenchmark-dev libx11-dev xvfb xauth xdotool x11-utils mesa-utils)
# What the Windows cross-build needs: MinGW-w64 (its win32-threads flavour, which is all the
# program needs), patch for the mend applied to freeglut's source, and zip for the archive.
WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-x86-64-win32 cmake make patch zip)
# What running the Windows build under wine on a virtual X server needs, unpacked from the
# archive.
WINE_PACKAGES=(wine wine64 xvfb xauth xdotool x11-utils unzip)
# What scripts/package needs to build the Debian package: dpkg-shlibdeps for its
# dependencies, and file, through which CPack finds the binaries to strip.
PACKAGE_PACKAGES=(dpkg-dev file)
# What scripts/package --check needs besides: the validators, lintian, and a virtual X
# server to run the installed program on.
PACKAGE_CHECK_PACKAGES=(lintian appstream desktop-file-utils man-db groff-base xvfb xauth)
# What the browser build needs: Emscripten (it brings its own GLUT), Debian's node for its
# JavaScript tools, and python3 to serve the page.
WEB_BUILD_PACKAGES=(emscripten nodejs cmake make python3)
# What the browser check needs besides: the three engines (Chromium, Firefox ESR, and
# WebKitGTK's MiniBrowser with its WebDriver), a virtual X server for the windows of the last
# two and for the native side (the selection comparison under Mesa, the camera), and the
# native build. (npm, for the check's drivers, is installed apart: a node from elsewhere
# brings its own.)
WEB_CHECK_PACKAGES=(chromium firefox-esr webkit2gtk-driver xvfb xauth "${BUILD_PACKAGES[@]}")
