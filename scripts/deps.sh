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
    local log try
    log=$(mktemp)
    # A mirror caught in the middle of a sync ("File has unexpected size")
    # or a dropped connection fails one try; a few minutes later it serves
    # again. Each download is retried too.
    for try in 1 2 3 4; do
        if { $sudo apt-get update -qq -o Acquire::Retries=3 &&
             DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o Acquire::Retries=3 \
                 --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
            rm -f "$log"
            return 0
        fi
        [ "$try" -lt 4 ] || break
        echo "Installing the packages failed (try $try of 4); trying again in $((try * 30)) s" >&2
        sleep $((try * 30))
    done
    cat "$log"
    rm -f "$log"
    echo "Installing the packages failed." >&2
    return 1
}
