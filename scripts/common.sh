# Shared by the scripts: installing packages and a throwaway Wine desktop.

# Installs the Debian packages given (name or name:arch) that are not installed yet, and says
# which, with the packages they bring. Installed packages are never upgraded on their own
# behalf; one that must be upgraded for a new one (a Multi-Arch library kept at one version on
# both architectures) is named, and with --refuse-upgrades nothing is installed then.
ensure_packages() {
    local refuse=0 missing=() pkg
    [ "${1:-}" = --refuse-upgrades ] && { refuse=1; shift; }
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "Adding the i386 architecture to dpkg, for ${missing[*]}"
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    local install=(apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends --no-upgrade "${missing[@]}")
    local plan new upgrades
    plan=$(LC_ALL=C "${install[@]}" -s) || { echo "apt cannot install ${missing[*]}:" >&2; echo "$plan" >&2; return 1; }
    new=$(awk '$1 == "Inst" && $3 !~ /^\[/ { printf " %s", $2 }' <<<"$plan")
    upgrades=$(awk '$1 == "Inst" && $3 ~ /^\[/ { printf " %s", $2 }' <<<"$plan")
    echo "Installing ${missing[*]} (new packages, with what they need:$new)"
    if [ -n "$upgrades" ]; then
        echo "apt must also upgrade these installed packages to match:$upgrades"
        if [ "$refuse" = 1 ]; then
            echo "Nothing was installed. To accept the upgrades: sudo apt-get install --no-install-recommends ${missing[*]}" >&2
            return 1
        fi
    fi
    DEBIAN_FRONTEND=noninteractive $sudo "${install[@]}"
}

# The packages listed one per line in a file, without comments.
packages_in() {
    grep -v '^\s*\(#\|$\)' "$1"
}

# The project's version, from CMakeLists.txt.
project_version() {
    sed -n 's/^project(gearvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt
}

BUILD_PACKAGES=(cmake make g++ pkg-config googletest libgtest-dev python3)
LINUX_PACKAGES=(libevdev-dev libcli11-dev dpkg-dev file)
WIN32_PACKAGES=(g++-mingw-w64-i686)
# gearvane-gui, the Qt 6 window; gearvane itself builds without it.
GUI_PACKAGES=(qt6-base-dev)
WINE_PACKAGES=(wine wine32:i386 fonts-wine xvfb xauth imagemagick)

# Starts Xvfb on a free display and a fresh 32-bit Wine prefix in a temporary folder;
# stop_wine_desktop removes both. Exports DISPLAY, WINEPREFIX, WINEARCH, WINEDEBUG.
start_wine_desktop() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    WINE_TMP=$(mktemp -d /tmp/gearvane-wine.XXXXXX)
    export WINEPREFIX="$WINE_TMP/prefix" WINEARCH=win32 WINEDEBUG=-all
    timeout 120 wineboot -i >/dev/null 2>&1
    timeout 60 wineserver -w
}

stop_wine_desktop() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    [ -n "${WINE_TMP:-}" ] && rm -rf "$WINE_TMP"
    XVFB_PID="" WINE_TMP=""
}
