# shellcheck shell=bash
# The places scripts/run makes and writes, each made only where nothing
# stands: whatever is found there never holds the script (a FIFO opened to
# be written waits for a reader) nor stops it (a file where a folder
# belongs). Sourced by scripts/run; the tests run these steps alone.

# Prints its arguments as one line on standard output (">&2": standard
# error) from a subshell of its own: a console whose reader has gone
# ("./scripts/run | head -3") costs that line, where bash itself would die
# of SIGPIPE before the program is started.
zrv_say() {
    ( printf '%s\n' "$*" ) 2>/dev/null || true
}

# What stands at a path, a link not followed: "a folder", "a FIFO", ...
zrv_kind_at() {
    local p=$1
    if [ -L "$p" ]; then
        if [ -e "$p" ]; then echo "a link"; else echo "a link to nothing"; fi
    elif [ -d "$p" ]; then echo "a folder"
    elif [ -f "$p" ]; then echo "a regular file"
    elif [ -p "$p" ]; then echo "a FIFO"
    elif [ -S "$p" ]; then echo "a socket"
    elif [ -b "$p" ] || [ -c "$p" ]; then echo "a device node"
    else echo "something"
    fi
}

# A folder at the path: a folder there, or a link to one, is used as it is;
# anything else is moved aside to "<path>.refused" (in place of an older
# one), with a line on standard error, and a new folder made. Fails only
# where nothing can be moved or made, saying so.
zrv_folder_at() {
    local place=$1 what
    [ -d "$place" ] && return 0
    if [ -e "$place" ] || [ -L "$place" ]; then
        what=$(zrv_kind_at "$place")
        rm -rf -- "$place.refused"
        if ! mv -T -- "$place" "$place.refused"; then
            zrv_say "$place: $what stands where a folder belongs and cannot be moved aside" >&2
            return 1
        fi
        zrv_say "$place: $what stood where a folder belongs; kept as $place.refused, a new folder made" >&2
    fi
    mkdir -p -- "$place"
}

# Writes standard input as the file at the path only where nothing stands
# (a link to nothing is something): what is there is the user's, and the
# program says what it makes of it. The text is written beside the place
# and linked in with ln, which makes the name only where nothing stands,
# never opening what does (-T: nor putting it inside a folder there).
zrv_default_file() {
    local place=$1 beside
    beside=$(mktemp -- "$place.XXXXXX") || return 0
    cat > "$beside"
    ln -T -- "$beside" "$place" 2>/dev/null || true
    rm -f -- "$beside"
}

# The first line of the file that matches the pattern (extended), once the
# process writing it has written it: waits up to 30 s, and no longer than
# the process lives. Nothing when it never came.
zrv_said() {
    local file=$1 pattern=$2 pid=$3 line _
    for _ in $(seq 300); do
        line=$(grep -E -m1 -- "$pattern" "$file" 2>/dev/null || true)
        [ -n "$line" ] && { echo "$line"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
}
