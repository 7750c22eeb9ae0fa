# The helpers every script shares (scripts/packages.sh sources this file): installing
# packages, running as root, keeping build output in a log, and the virtual X server.

# Runs a command as root: directly when root already, otherwise through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# Runs apt-get as root without questions; waits up to 10 minutes for another apt or dpkg to
# let go of its lock rather than failing at once.
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Installs the Debian packages named in the arguments that are not installed yet.
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
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}"
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

# Runs a command on a virtual X server of its own, started for it and gone with it
# (scripts/lib/on-virtual-x): the scripts and the benchmark never draw on, or send input to,
# the display they were started from.
on_virtual_x() {
    "$(dirname "${BASH_SOURCE[0]}")/on-virtual-x" "$@"
}

# Whether the calling script is the command that on-virtual-x started its server for.
on_own_virtual_x() {
    [ "${ORLEMAZ_VIRTUAL_X:-}" = "$PPID" ]
}

# Runs the calling script ("$0" "$@") again in its place, on a virtual X server of its own:
# random input and measurements never reach the display it was started from.
rerun_on_virtual_x() {
    exec "$(dirname "${BASH_SOURCE[0]}")/on-virtual-x" "$@"
}
