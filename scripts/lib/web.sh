# The steps of scripts/build-web, one function each, in the order it runs them: the page,
# the release made of it, its archive, and the browser check of the unpacked archive. They
# read the caller's $out (the build folder) and $mode.

# The files the page loads, in the release's folder; the service worker keeps them all.
WEB_PAGE_FILES=(index.html orlemaz.js orlemaz.wasm manifest.webmanifest orlemaz.svg
    icons/orlemaz-192.png icons/orlemaz-512.png)

# Builds $out/orlemaz.js and orlemaz.wasm with Emscripten (and, for the check, the page
# build of the pick dump).
build_page() {
    echo "Building the page into $out/ (compiler output in $out/build.log) ..."
    mkdir -p "$out"
    quietly "$out/build.log" emcmake cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release
    local targets=(orlemaz)
    [ "$mode" = "--check" ] && targets+=(pick_dump)
    quietly "$out/build.log" cmake --build "$out" -j"$(nproc)" --target "${targets[@]}"
}

# Lays the release out in $site (and names its version in $version, its folder's name in
# $name): the page, the program with its JavaScript minified, the manifest, the icon and its
# 192- and 512-pixel pictures, and the service worker with its cache named after what the
# other files hold; then the README on hosting it and the licence notices (the program's,
# and the toolchain's, whose C and C++ runtime and JavaScript are compiled into the page).
stage_release() {
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
    name=orlemaz-$version-web
    site=$out/release/$name
    echo "Laying the release out in $site/ ..."
    rm -rf "$out/release"
    mkdir -p "$site/icons" "$site/LICENSES"
    cp web/index.html web/manifest.webmanifest data/orlemaz.svg "$out/orlemaz.wasm" "$site/"
    terser "$out/orlemaz.js" --compress --mangle --output "$site/orlemaz.js"
    local size file list="'./'" contents
    # Drawn from the icon, then cut to a palette of 256 colours: a third of the size, and
    # no difference to see.
    for size in 192 512; do
        rsvg-convert -w "$size" -h "$size" data/orlemaz.svg |
            pngquant --speed 1 --quality 90-100 - >"$site/icons/orlemaz-$size.png"
    done
    contents=$(cd "$site" && sha256sum "${WEB_PAGE_FILES[@]}" | sha256sum | cut -c1-16)
    for file in "${WEB_PAGE_FILES[@]}"; do
        list+=", '$file'"
    done
    sed -e "s|^const CACHE = .*|const CACHE = 'orlemaz-$contents'; // the release's cache name|" \
        -e "s|^const FILES = .*|const FILES = [$list]; // the release's files|" \
        web/service_worker.js >"$site/sw.js"
    grep -q "'orlemaz-$contents'" "$site/sw.js" ||
        { echo "The service worker's cache was not named" >&2; return 1; }
    sed "s/@PROJECT_VERSION@/$version/" data/README-web.txt.in >"$site/README.txt"
    cp data/copyright "$site/LICENSES/orlemaz.txt"
    cp /usr/share/doc/emscripten/copyright "$site/LICENSES/emscripten.txt"
    echo "The page: $(cd "$site" && cat "${WEB_PAGE_FILES[@]}" sw.js | wc -c) bytes in" \
        "$((${#WEB_PAGE_FILES[@]} + 1)) files"
}

# Packs dist/$name.zip from the release, and names it in $archive.
pack_archive() {
    archive=dist/$name.zip
    echo "Packing $archive ..."
    mkdir -p dist
    rm -f "$archive"
    (cd "$out/release" && zip -qrX "$OLDPWD/$archive" "$name")
    echo "Packed $archive ($(du -k --apparent-size "$archive" | cut -f1) KB)"
}

# Unpacks $archive into $out/unpacked, checks that it holds every file, and names the
# unpacked page's folder in $unpacked: the check serves the page as a host would.
unpack_archive() {
    rm -rf "$out/unpacked"
    unzip -q "$archive" -d "$out/unpacked"
    unpacked=$out/unpacked/$name
    local file
    for file in "${WEB_PAGE_FILES[@]}" sw.js README.txt LICENSES/{orlemaz,emscripten}.txt; do
        [ -s "$unpacked/$file" ] || { echo "The archive lacks $file" >&2; return 1; }
    done
}

# Builds the native pick dump and camera tool into $out/native and runs the dump on a
# virtual X server, into $out/pick_dump_native.txt: the check compares the page with it.
run_native_side() {
    native=$out/native
    echo "Building the native pick dump and camera tool into $native/, running the dump on a" \
        "virtual X server ..."
    quietly "$native/build.log" cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release \
        -DORLEMAZ_BUILD_TESTS=OFF
    quietly "$native/build.log" cmake --build "$native" -j"$(nproc)" \
        --target pick_dump camera_points
    on_virtual_x "$native/pick_dump" >"$out/pick_dump_native.txt"
}

# Runs web/test/browser_test.mjs on the unpacked page in each engine in turn
# (ORLEMAZ_WEB_ENGINES names fewer), within a deadline that holds on a loaded machine, and
# sums their counts; a run that ends without its count, or fails without counting a
# failure, counts one. Fails if any check failed.
run_browser_checks() {
    local all_passed=0 all_failed=0 engine log status passed failed start
    rm -f "$out"/check-*.log
    cp web/test/pick_dump.html "$out/"
    for engine in ${ORLEMAZ_WEB_ENGINES:-chromium firefox webkit}; do
        log=$out/check-$engine.log
        echo "Running the browser check in $engine (its output also in $log) ..."
        status=0 passed='' failed='' start=$SECONDS
        timeout --kill-after=30 1200 node web/test/browser_test.mjs --engine "$engine" \
            --page "$unpacked" "$out" "$out/pick_dump_native.txt" "$native/camera_points" |
            tee "$log" || status=$?
        read -r passed failed < <(sed -n \
            "s/^$engine: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p" "$log") || true
        passed=${passed:-0} failed=${failed:-1}
        [ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
        all_passed=$((all_passed + passed)) all_failed=$((all_failed + failed))
        echo "$engine: $((SECONDS - start)) s" | tee -a "$log"
    done
    echo "The browser check, per engine:"
    grep -h -e ': frames a second' -e ': pick: ' -e ': pictures of the three views' \
        -e ': [0-9]* passed, [0-9]* failed$' -e ': [0-9]* s$' "$out"/check-*.log
    echo "In all: $all_passed passed, $all_failed failed"
    [ "$all_failed" -eq 0 ]
}
