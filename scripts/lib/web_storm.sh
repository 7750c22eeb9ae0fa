# The storm in the browser, sourced by the browser build's script: builds the page under
# AddressSanitizer and UndefinedBehaviorSanitizer into a folder of its own, lays it out as
# the release is laid out, and throws random input at it in headless Chromium
# (web/test/storm.mjs). Run from the repository's root, with scripts/packages.sh and
# scripts/lib/web.sh sourced.

# Builds the sanitized page into OUT_DIR (compiler output in OUT_DIR/build.log) and storms
# it for ORLEMAZ_STORM_SECONDS (60 by default; ORLEMAZ_STORM_SEED replays a run), output in
# OUT_DIR/storm.log; prints one line: the events and the time, or the failure and its seed.
# Reads the caller's $native (run_native_side): the camera tool gives the program's facts.
web_sanitizer_storm() {
    # stage_release names these; local here, they leave the caller's release alone.
    # shellcheck disable=SC2034
    local out=$1 log=$1/storm.log summary version name site
    ensure_packages "${WEB_BUILD_PACKAGES[@]}" "${WEB_STORM_PACKAGES[@]}"
    command -v npm >/dev/null || ensure_packages npm
    export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
    echo "Building the page under the sanitizers into $out/ (compiler output in $out/build.log) ..."
    mkdir -p "$out"
    quietly "$out/build.log" emcmake cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release \
        -DORLEMAZ_SANITIZE=ON
    quietly "$out/build.log" cmake --build "$out" -j"$(nproc)" --target orlemaz
    stage_release >>"$out/build.log"
    # The drivers, unless this lock file's are installed already.
    if [ ! web/test/node_modules/.package-lock.json -nt web/test/package-lock.json ]; then
        echo "Installing the browser drivers (npm, web/test/) ..."
        quietly "$out/build.log" npm ci --prefix web/test --no-audit --no-fund
    fi
    echo "Storming it in headless Chromium for ${ORLEMAZ_STORM_SECONDS:-60} s (output in $log) ..."
    if timeout --kill-after=30 $((${ORLEMAZ_STORM_SECONDS:-60} + 600)) \
        node web/test/storm.mjs "$site" "$native/camera_points" >"$log" 2>&1 &&
        summary=$(sed -n 's/^storm: \([0-9]* events in [0-9.]* s\) .*, no report$/\1/p' "$log") &&
        [ -n "$summary" ]; then
        echo "sanitized storm: $summary, no report"
    else
        echo "sanitized storm: FAILED (the last lines of $log follow)" >&2
        tail -n 20 "$log" >&2
        return 1
    fi
}
