# shellcheck shell=bash
# Installs the Debian packages the build, the tests (iproute2: the client's
# tests put a device on a network of its own) and the panel's fonts need,
# only those that are missing. Sourced by scripts/run and scripts/test.
ZRV_PACKAGES="cmake ninja-build g++ ccache pkg-config qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
libboost-dev googletest libgtest-dev libbenchmark-dev fonts-noto-cjk fonts-dejavu-core xvfb x11vnc iproute2"

# The packages of ZRV_PACKAGES not installed, one a line.
zrv_missing_deps() {
    local p
    for p in $ZRV_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

zrv_install_deps() {
    [ -n "$(zrv_missing_deps)" ] || return 0
    # CI runs its stages side by side, each installing what it misses; apt
    # and dpkg serve one at a time and fail a second at once: the installs
    # take turns here, each asking again what is still missing.
    (
        flock 9
        zrv_install_missing_deps
    ) 9>"${TMPDIR:-/tmp}/zrv-install-deps.lock"
}

zrv_install_missing_deps() {
    local missing
    mapfile -t missing < <(zrv_missing_deps)
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # A package of another architecture (qtbase5-dev:armhf) needs that
    # architecture added to dpkg first.
    local p arch
    for p in "${missing[@]}"; do
        arch=${p##*:}
        [ "$arch" != "$p" ] || continue
        [ "$arch" != "$(dpkg --print-architecture)" ] || continue
        dpkg --print-foreign-architectures | grep -qx "$arch" && continue
        echo "Adding the Debian architecture $arch"
        $sudo dpkg --add-architecture "$arch"
    done
    echo "Installing: ${missing[*]}"
    local log try
    log=$(mktemp)
    # A mirror caught in the middle of a sync ("File has unexpected size")
    # or a dropped connection fails one try; a few minutes later it serves
    # again. Each download is retried too. An index that could not be
    # fetched leaves the one fetched before, which may still serve.
    for try in 1 2 3 4; do
        if { $sudo apt-get update -qq -o Acquire::Retries=3 || true
             zrv_apt_install "${missing[@]}"; } >"$log" 2>&1; then
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

# Builds the tree given first; the rest goes to cmake --build. ZRV_JOBS
# compilers at once (one a core by default), at the niceness ZRV_BUILD_NICE
# (0 by default): CI builds beside the tests that wait, and a build at a
# higher niceness takes only the time the tests leave.
zrv_build() {
    local build=$1
    shift
    nice -n "${ZRV_BUILD_NICE:-0}" cmake --build "$build" -j"${ZRV_JOBS:-$(nproc)}" "$@"
}

# Installs the packages. A package of another architecture (qtbase5-dev:armhf)
# needs each library that both architectures hold (Multi-Arch: same) at one
# version on both; when the registry's index of one architecture lags the
# other's, apt finds no such version by itself and gives up. Each library it
# then names is asked for at the version the other architecture's index
# has, on both architectures (an upgrade mostly, a downgrade where the
# host's came from an index the other has not caught up with), until apt
# finds the whole set.
zrv_apt_install() {
    local apt=(apt-get install -y -qq -o Acquire::Retries=3 --no-install-recommends)
    [ "$(id -u)" -ne 0 ] && apt=(sudo "${apt[@]}")
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" "$@" && return 0
    local foreign native
    foreign=$(printf '%s\n' "$@" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | head -n 1)
    [ -n "$foreign" ] || return 1
    native=$(dpkg --print-architecture)
    local synced=() round out names name version
    for round in 1 2 3 4 5 6 7 8; do
        if out=$(apt-get install -s --allow-downgrades --no-install-recommends "$@" "${synced[@]}" 2>&1); then
            echo "Installing with the libraries of both architectures at one version: ${synced[*]}"
            DEBIAN_FRONTEND=noninteractive "${apt[@]}" --allow-downgrades "$@" "${synced[@]}"
            return
        fi
        names=$(grep -oE "(Depends|Conflicts|Breaks): [a-z0-9.+-]+:$foreign" <<<"$out" | sed 's/^[A-Za-z-]*: //; s/:.*//' | sort -u)
        local added=0
        for name in $names; do
            version=$(apt-cache policy "$name:$foreign" | awk '/Candidate:/ { print $2 }')
            [ -n "$version" ] && [ "$version" != "(none)" ] || continue
            case " ${synced[*]} " in *" $name:$foreign=$version "*) continue ;; esac
            if dpkg-query -W -f='${Status}' "$name:$native" 2>/dev/null | grep -q "install ok installed"; then
                synced+=("$name:$native=$version")
            fi
            synced+=("$name:$foreign=$version")
            added=1
        done
        [ "$added" = 1 ] || break
    done
    echo "$out"
    return 1
}

