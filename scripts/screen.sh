# shellcheck shell=bash
# The virtual screen scripts/run serves the front panel on when DISPLAY is
# unset: Xvfb on a display nothing holds, and x11vnc serving it on the
# loopback address only. Sourced by scripts/run after scripts/places.sh; the
# tests run it alone and stop it at each of its points.

# A point of the set-up where the process stops itself (SIGSTOP) when
# ZRV_RUN_PAUSE_AT names it: a test sends its signal there, then lets the
# process go on (SIGCONT).
zrv_pause_at() {
    [ "${ZRV_RUN_PAUSE_AT:-}" = "$1" ] || return 0
    kill -STOP "$BASHPID"
}

# Starts the command (after its name for zrv_pause_at) in the background, in
# a session of its own, so that a Ctrl+C in the terminal reaches the program
# alone, which stops in order while its screen is still there. The kernel
# ends the command (SIGTERM) once this process has ended, however and
# whenever it ends: stopped in the middle of the set-up, or as the program
# exec'd in its place, which keeps the process. Nothing has to be in place
# to clean up after it, and only this run's screen is ever ended. A command
# whose process has ended before the tie was made does not start at all.
# $! is the command's process id (setsid forks only in a process group's
# leader, which a background child of a script without job control is not).
zrv_start_tied() {
    local name=$1 parent=$BASHPID
    shift
    (
        zrv_pause_at "$name child"
        # shellcheck disable=SC2016 # expanded by the bash that checks its parent
        exec setsid setpriv --pdeathsig TERM -- bash -c '[ "$PPID" = "$0" ] && exec "$@"' "$parent" "$@"
    ) &
}

# Serves the screen: exports DISPLAY naming it and says where a viewer
# connects. Each helper takes a display or a port that nothing holds
# (another run's screen or VNC server is never taken for this one's) and
# says which once it serves; the program starts only on a screen that is
# there. Ends the script when Xvfb gives no screen within 30 s.
zrv_serve_screen() {
    local said display port
    zrv_pause_at screen
    said=$(mktemp)
    zrv_start_tied xvfb Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$said" >/dev/null 2>&1
    local xvfb_pid=$!
    zrv_pause_at xvfb
    display=$(zrv_said "$said" '^[0-9]+$' "$xvfb_pid")
    if [ -z "$display" ]; then
        rm -f "$said"
        kill "$xvfb_pid" 2>/dev/null || true
        zrv_say "Xvfb gave no screen within 30 s: the program cannot start." >&2
        exit 1
    fi
    display=":$display"
    zrv_pause_at display
    zrv_start_tied vnc x11vnc -display "$display" -localhost -autoport 5900 -forever -shared -nopw -quiet >"$said" 2>/dev/null
    local vnc_pid=$!
    zrv_pause_at vnc
    port=$(zrv_said "$said" '^PORT=[0-9]+$' "$vnc_pid")
    rm -f "$said"
    export DISPLAY="$display"
    if [ -n "$port" ]; then
        zrv_say "The front panel is served over VNC: connect a viewer to 127.0.0.1:${port#PORT=} (800x480)."
    else
        zrv_say "The VNC server did not start within 30 s: the front panel runs on $display, not served." >&2
    fi
}
