# shellcheck shell=bash
# Installs the Debian packages the build, the tests (iproute2: the client's
# tests put a device on a network of its own) and the panel's fonts need,
# only those that are missing. Sourced by scripts/run and scripts/test.
ZRV_PACKAGES="cmake ninja-build g++ ccache pkg-config qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
libboost-dev googletest libgtest-dev libbenchmark-dev fonts-noto-cjk fonts-dejavu-core xvfb x11vnc iproute2"

zrv_install_deps() {
    local missing=()
    local p
    for p in $ZRV_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    local log
    log=$(mktemp)
    if ! { $sudo apt-get update -qq &&
           DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        echo "Installing the packages failed." >&2
        return 1
    fi
    rm -f "$log"
}
