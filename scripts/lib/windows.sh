# The steps of scripts/build-windows, one function each, in the order it runs them: freeglut,
# the program, the archive, the installer, and the check under wine. They read the caller's
# $out (the build folder, absolute), $toolchain (the MinGW-w64 CMake toolchain file) and
# $freeglut_prefix.

# Fetches freeglut's Debian source package into $out once, from the deb-src side of the
# archive and release the machine's own packages come from (Debian's or Ubuntu's, as its apt
# sources name them), so that it is the version the Linux build links. A private apt
# configuration leaves the machine's apt sources alone.
fetch_freeglut_source() {
    ls "$out"/freeglut_*.orig.tar.* >/dev/null 2>&1 && return 0
    echo "Fetching freeglut's source package into $out/ (from the machine's apt sources) ..."
    local apt_dir=$out/freeglut-apt list sources
    rm -rf "$apt_dir"
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache"
    # The machine's own sources, each turned to its source side: the same archive, suites
    # and keys.
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$list" ] && sed -n 's/^deb[[:space:]]/deb-src /p' "$list" \
            >>"$apt_dir/sources.list.d/machine.list"
    done
    for sources in /etc/apt/sources.list.d/*.sources; do
        [ -f "$sources" ] && sed 's/^Types:.*/Types: deb-src/' "$sources" \
            >"$apt_dir/sources.list.d/$(basename "$sources")"
    done
    # apt's unprivileged download user cannot write here; the files are checked against the
    # signed index all the same.
    local apt_options=(-o APT::Sandbox::User=root -o Dir::Etc::sourcelist=/dev/null
        -o "Dir::Etc::sourceparts=$apt_dir/sources.list.d" -o "Dir::State::Lists=$apt_dir/lists"
        -o "Dir::Cache=$apt_dir/cache")
    apt-get "${apt_options[@]}" update -qq
    (cd "$out" && apt-get "${apt_options[@]}" source --download-only freeglut)
}

# Builds freeglut as a static Windows library into $freeglut_prefix, as the GLUT of
# GL/glut.h as on Linux, with the mend of patches/ for its menu in a window away from the
# screen's corner. A freeglut built with other patches than these is built again.
build_freeglut() {
    local stamp
    stamp=$(cat patches/freeglut-*.patch | sha256sum | cut -d' ' -f1)
    [ -f "$freeglut_prefix/lib/cmake/FreeGLUT/FreeGLUTConfig.cmake" ] &&
        [ "$(cat "$freeglut_prefix/patches.sha256" 2>/dev/null)" = "$stamp" ] && return 0
    echo "Building freeglut as a static Windows library into $freeglut_prefix/ ..."
    rm -rf "$out/freeglut-src" "$out/freeglut-build" "$freeglut_prefix"
    mkdir -p "$out/freeglut-src"
    tar -xf "$(ls "$out"/freeglut_*.orig.tar.* | head -n 1)" -C "$out/freeglut-src" \
        --strip-components=1
    for fix in patches/freeglut-*.patch; do
        patch -s -p1 -d "$out/freeglut-src" <"$fix"
    done
    local log=$out/freeglut-build.log
    : >"$log"
    quietly "$log" cmake -S "$out/freeglut-src" -B "$out/freeglut-build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$freeglut_prefix" -DFREEGLUT_BUILD_SHARED_LIBS=OFF \
        -DFREEGLUT_BUILD_STATIC_LIBS=ON -DFREEGLUT_REPLACE_GLUT=ON -DFREEGLUT_BUILD_DEMOS=OFF
    quietly "$log" cmake --build "$out/freeglut-build" -j"$(nproc)"
    quietly "$log" cmake --install "$out/freeglut-build"
    echo "$stamp" >"$freeglut_prefix/patches.sha256"
}

# Builds $out/orlemaz.exe against that freeglut; it needs no DLL beside it.
build_program() {
    echo "Building $out/orlemaz.exe (compiler output in $out/build.log) ..."
    quietly "$out/build.log" cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$freeglut_prefix"
    quietly "$out/build.log" cmake --build "$out" -j"$(nproc)"
    echo "Built $out/orlemaz.exe"
}

# Packs dist/orlemaz-<version>-windows-x86_64.zip and names it in $archive, the release in
# $version and the folder of its files in $stage: the exe, the README for Windows users that
# CMake wrote, the program's copyright notice and those of everything linked into the exe
# (freeglut's from its Debian source package, the MinGW-w64 runtime's and GCC's runtime
# libraries' from their Debian packages), all with Windows' line ends.
pack_archive() {
    local name
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
    name=orlemaz-$version-windows-x86_64
    stage=$out/archive/$name
    archive=dist/$name.zip
    echo "Packing $archive ..."
    rm -rf "$out/archive" "$archive"
    mkdir -p "$stage/LICENSES" dist
    cp "$out/orlemaz.exe" "$out/README.txt" "$stage/"
    sed 's/$/\r/' data/copyright >"$stage/LICENSES/orlemaz.txt"
    tar -xOf "$(ls "$out"/freeglut_*.debian.tar.* | head -n 1)" debian/copyright |
        sed 's/$/\r/' >"$stage/LICENSES/freeglut.txt"
    sed 's/$/\r/' /usr/share/doc/mingw-w64-x86-64-dev/copyright \
        >"$stage/LICENSES/mingw-w64-runtime.txt"
    sed 's/$/\r/' /usr/share/doc/gcc-mingw-w64-x86-64-win32-runtime/copyright \
        >"$stage/LICENSES/gcc-runtime.txt"
    (cd "$out/archive" && zip -qrX "$OLDPWD/$archive" "$name")
    echo "Packed $archive ($(du -k --apparent-size "$archive" | cut -f1) KB)"
}

# Builds the installer of release $1 into $2 from the archive's files and the exe's icon
# (data/orlemaz.wxs, through cmake/windows-installer.cmake).
build_installer() {
    cmake -D VERSION="$1" -D FILES="$stage" -D ICON="$out/orlemaz.ico" -D OUTPUT="$2" \
        -P cmake/windows-installer.cmake
}

# Builds dist/orlemaz-<version>-windows-x86_64.msi beside the archive and names it in
# $installer.
pack_installer() {
    installer=${archive%.zip}.msi
    echo "Building the installer $installer ..."
    build_installer "$version" "$installer"
    echo "Built $installer ($(du -k --apparent-size "$installer" | cut -f1) KB)"
}

# Unpacks $archive into $out/unpacked, checks that it holds every file, and names the exe in
# ORLEMAZ_WINDOWS_EXE: the check runs the exe as a Windows user gets it.
unpack_archive() {
    rm -rf "$out/unpacked"
    unzip -q "$archive" -d "$out/unpacked"
    local unpacked file
    unpacked=$out/unpacked/$(basename "$archive" .zip)
    for file in orlemaz.exe README.txt LICENSES/{orlemaz,freeglut,mingw-w64-runtime,gcc-runtime}.txt; do
        [ -s "$unpacked/$file" ] || { echo "The archive lacks $file" >&2; return 1; }
    done
    export ORLEMAZ_WINDOWS_EXE=$unpacked/orlemaz.exe
}

# What a made wine prefix lacks, if anything: its registry and its Windows folder.
wine_prefix_lacks() {
    local part
    for part in system.reg user.reg drive_c/windows/system32/kernel32.dll; do
        [ -s "$WINEPREFIX/$part" ] || echo "$part"
    done
}

# Makes the wine prefix $WINEPREFIX unless it is whole, and proves the outcome: wineboot
# ended well and said nothing of a program it could not start, wine's server went quiet,
# and the prefix holds its registry and Windows folder. On a new machine the first attempt
# once ended "ShellExecuteEx failed: Internal error"; so a failed attempt says why and the
# prefix is made once more from nothing. The deadlines hold on a loaded machine, where a
# prefix takes 15 to 25 s.
make_wine_prefix() {
    [ -z "$(wine_prefix_lacks)" ] && return 0
    local attempt log=$out/wine-prefix.log status why
    for attempt in 1 2; do
        echo "Making the wine prefix $WINEPREFIX/ (attempt $attempt of 2, output in $log) ..."
        rm -rf "$WINEPREFIX"
        status=0
        timeout 300 wineboot -i >"$log" 2>&1 || status=$?
        if [ "$status" -eq 124 ]; then
            why="wineboot -i had not finished after 300 s"
        elif [ "$status" -ne 0 ]; then
            why="wineboot -i ended with status $status"
        elif grep -q "could not be started" "$log"; then
            why="wineboot could not start a program in the new prefix"
        elif ! timeout 120 wineserver -w; then
            why="wine's server was still busy after 120 s"
        elif [ -n "$(wine_prefix_lacks)" ]; then
            why="the prefix lacks $(wine_prefix_lacks | paste -sd' ')"
        else
            return 0
        fi
        wineserver -k 2>/dev/null || true
        echo "The wine prefix was not made: $why. wineboot said:" >&2
        sed 's/^/    /' "$log" >&2
    done
    echo "Gave up on the wine prefix after two attempts." >&2
    return 1
}

# Builds the Linux program and the harness's wine test into the Linux build folder $1, and
# runs that test against $ORLEMAZ_WINDOWS_EXE (on a virtual X server, as every test); wine's
# server goes with it.
run_wine_check() {
    local linux_build=$1 status=0
    echo "Building the wine check into $linux_build/ (compiler output in $linux_build/build.log) ..."
    quietly "$linux_build/build.log" cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=Release \
        -DORLEMAZ_BUILD_TESTS=ON
    quietly "$linux_build/build.log" cmake --build "$linux_build" -j"$(nproc)" \
        --target orlemaz e2e_windows_test
    echo "Running $ORLEMAZ_WINDOWS_EXE under wine on a virtual X server ..."
    ctest --test-dir "$linux_build" -L wine --no-tests=error --output-on-failure || status=$?
    wineserver -k 2>/dev/null || true
    return "$status"
}

# The wine check's steps around the installer. Each names itself first (check_step); one that
# fails says which it was and why (fail), and the script ends there.
check_step() { step=$1; echo "Checking: $step ..."; }
fail() { echo "The wine check failed at \"$step\": $*" >&2; exit 1; }

# Checks the exe's resources as wrestool lists them: the icon group GLUT_ICON first, in each
# size CMake draws, version information and a manifest; draws the icon's pictures out into
# $out/exe-icon/icon-<size>.png, for the wine test to compare with the window's.
check_exe_resources() {
    local exe=$1 resources text size icons=$out/exe-icon
    check_step "the exe's resources"
    resources=$(wrestool -l "$exe") && sed 's/^/    /' <<<"$resources"
    grep -m1 -- --type=14 <<<"$resources" | grep -q "name='GLUT_ICON'" ||
        fail "its first icon group is not GLUT_ICON"
    # Type 16, the version's UTF-16 strings, where without zero bytes a name runs into its
    # value; type 24, the manifest.
    for text in 16:ProductNameORLEMAZ "16:FileVersion$version" 16:OriginalFilenameorlemaz.exe \
        24:supportedOS 24:dpiAware; do
        wrestool -x -R --type="${text%%:*}" "$exe" | tr -d '\0' | grep -aq "${text#*:}" ||
            fail "its resource of type ${text%%:*} lacks ${text#*:}"
    done
    rm -rf "$icons" && mkdir -p "$icons"
    wrestool -x --type=14 --name=GLUT_ICON "$exe" -o "$icons/exe.ico"
    for size in $(sed -n 's/^ORLEMAZ_ICON_SIZES:INTERNAL=//p' "$out/CMakeCache.txt" | tr ';' ' '); do
        icotool -x --width="$size" -o "$icons/icon-$size.png" "$icons/exe.ico" &&
            [ -s "$icons/icon-$size.png" ] || fail "its icon has no $size x $size picture"
    done
    export ORLEMAZ_WINDOWS_ICONS=$icons
}

# The step $1: runs wine's msiexec silently with $2 (/i or /x) and the installer $3, waits for
# wine to go quiet, and needs status $expected (0 by default; else fails with the end of its
# log) and then $4 copies installed, of the installer $5 (expect_copies).
msiexec_step() {
    local log=$out/msiexec.log status=0
    check_step "$1"
    timeout 300 wine msiexec "$2" "$(winepath -w "$3")" /qn "/l*v" "$(winepath -w "$log")" ||
        status=$?
    timeout 120 wineserver -w || fail "wine's server was still busy 120 s after msiexec"
    echo "    msiexec $2 $(basename "$3") /qn: status $status"
    [ "$status" -eq "${expected:-0}" ] || { tail -n 20 "$log" >&2 && fail "see $log"; }
    expect_copies "$4" "${5:-}"
}

# Checks that $1 copies of ORLEMAZ (0 or 1) are installed in the wine prefix, by its Start menu
# shortcuts, installed-programs entries, the installer's records and copies of its icon;
# and one of them that it is the installer $2's: its files, the exe the build's, its version,
# its icon and a shortcut to the exe. wine's installer puts the shortcut of an install for
# every user in the user's Start menu, where Windows puts it in all users'; both count.
expect_copies() {
    local dir=$WINEPREFIX/drive_c/Program\ Files/ORLEMAZ file found properties
    local uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    local shortcuts entries records icons
    shortcuts=$(ls "$WINEPREFIX"/drive_c/{ProgramData,users/*/AppData/Roaming}/Microsoft/Windows/Start\ Menu/Programs/ORLEMAZ.lnk 2>/dev/null || true)
    entries=$(wine reg query "$uninstall" /s | grep -aE 'DisplayName +REG_SZ +ORLEMAZ' || true)
    records=$(wine reg query 'HKCR\Installer\Products' /s | grep -aE 'ProductName +REG_SZ +ORLEMAZ' || true)
    icons=$(find "$WINEPREFIX/drive_c/windows/Installer" -name orlemaz.ico 2>/dev/null || true)
    for found in shortcuts entries records icons; do
        [ "$(grep -c . <<<"${!found}")" -eq "$1" ] || fail "not $1 $found but: ${!found}"
    done
    [ "$1" -eq 1 ] || { [ ! -e "$dir" ] || fail "$dir is left"; echo "    nothing left"; return 0; }
    for file in README.txt LICENSES/{orlemaz,freeglut,mingw-w64-runtime,gcc-runtime}.txt; do
        [ -s "$dir/$file" ] || fail "$dir/$file is missing"
    done
    cmp -s "$dir/orlemaz.exe" "$out/orlemaz.exe" || fail "the installed exe is not the build's"
    cmp -s "$icons" "$out/orlemaz.ico" || fail "the installed-programs entry's icon is not the exe's"
    tr -d '\0' <"$shortcuts" | grep -aq 'ORLEMAZ\\orlemaz.exe' || fail "the shortcut names no exe"
    properties=$(msiinfo export "$2" Property | tr -d '\r')
    found=$(wine reg query "$uninstall\\$(sed -n 's/^ProductCode\t//p' <<<"$properties")" |
        tr -d '\r' | grep -aE 'Display(Name|Version)' || true)
    sed 's/^ */    /' <<<"$found"
    grep -q "REG_SZ *$(sed -n 's/^ProductVersion\t//p' <<<"$properties")$" <<<"$found" ||
        fail "the installed-programs entry is not of $2's version"
    echo "    one copy in $dir, its shortcut ${shortcuts#"$WINEPREFIX"/}"
}
