# shellcheck shell=bash
# Wine sessions for the end-to-end tests, the demo and the benchmark.
#
# A session is one throw-away 64-bit Wine prefix with the null graphics
# driver (hidden windows need no X server) and one persistent wineserver
# that stays up for the whole run. Source this file, then:
#
#   wine_session_begin            # prefix + server; installs an EXIT trap
#   wine_exec PROGRAM.exe ARGS    # run a Windows program, its exit code
#   wine_run_child COMMAND ARGS   # run a driver script (python...) so that a
#                                 # TERM to this shell also ends it
#   wine_session_end              # wineserver -k, prefix removed
#
# wine_session_begin sets the trap so that the server is ended on every way
# out, a failing test included. A caller with cleanup of its own calls
# wine_session_end from its own trap instead (see wine_session_begin).
#
# Environment: WINE_KEEP_PREFIX=1 keeps the prefix for inspection;
# ZELPH_WINE_ROOT chooses where prefixes are made (default: $TMPDIR or /tmp);
# WINE_SESSION_DEBUG replaces WINEDEBUG=-all for every process of the session.

WINE_LOADER=${WINE_LOADER:-/usr/lib/wine/wine64}
WINE_SERVER=${WINE_SERVER:-/usr/lib/wine/wineserver64}
WINE_PACKAGES="wine64"

wine_log() { printf 'wine: %s\n' "$*" >&2; }

# Fails with a hint when Debian's 64-bit Wine is missing. tools/lib/deps.sh
# installs $WINE_PACKAGES.
wine_require() {
    if [[ ! -x $WINE_LOADER || ! -x $WINE_SERVER ]]; then
        wine_log "Wine is not installed ($WINE_LOADER); apt-get install $WINE_PACKAGES"
        return 1
    fi
}

# The variables every Wine process of the session sees. Built-in Mono and
# Gecko are left out: nothing here needs .NET or HTML, and asking for them
# would stall the prefix creation on a missing download.
wine_export_environment() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDEBUG=${WINE_SESSION_DEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINESERVER=$WINE_SERVER
    export WINELOADER=$WINE_LOADER
    unset DISPLAY WAYLAND_DISPLAY
}

wine_exec() {
    "$WINE_LOADER" "$@"
}

# Creates the prefix and leaves one persistent server running on it.
wine_session_begin() {
    wine_require || return 1
    local root=${ZELPH_WINE_ROOT:-${TMPDIR:-/tmp}}
    mkdir -p "$root"
    WINE_SESSION_PREFIX=$(mktemp -d "$root/zelph-wine.XXXXXX") || return 1
    export WINE_SESSION_PREFIX
    wine_export_environment "$WINE_SESSION_PREFIX"
    trap wine_session_end EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    wine_log "creating prefix $WINEPREFIX"
    if ! wine_exec wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1; then
        wine_log "wineboot failed:"
        cat "$WINEPREFIX/wineboot.log" >&2
        return 1
    fi
    # The graphics driver is chosen when a process starts its user interface
    # part, so the setting must be in place before anything else runs: set
    # it, then restart the server so that no process of the first boot, the
    # desktop among them, keeps the default driver.
    wine_exec reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || {
        wine_log "cannot select the null graphics driver"
        return 1
    }
    "$WINE_SERVER" -k 2>/dev/null
    "$WINE_SERVER" -w 2>/dev/null
    "$WINE_SERVER" -p || {
        wine_log "cannot start wineserver"
        return 1
    }
    # Wait until the server answers, so that the first test does not pay for
    # the system processes starting.
    wine_exec cmd /c exit 0 >/dev/null 2>&1
}

# Runs a command in the background and waits for it. Bash runs its traps
# only between commands, so a foreground child would keep a TERM waiting
# until it ends; "wait" returns at once, and wine_session_end then ends the
# child too.
wine_run_child() {
    "$@" &
    WINE_CHILD_PID=$!
    wait "$WINE_CHILD_PID"
    local status=$?
    WINE_CHILD_PID=
    return $status
}

# Ends every process of the session and removes the prefix. Safe to call
# more than once and before the session has begun.
wine_session_end() {
    local status=$?
    if [[ -n ${WINE_CHILD_PID:-} ]]; then
        kill "$WINE_CHILD_PID" 2>/dev/null
        wait "$WINE_CHILD_PID" 2>/dev/null
        WINE_CHILD_PID=
    fi
    if [[ -n ${WINE_SESSION_PREFIX:-} && -d $WINE_SESSION_PREFIX ]]; then
        WINEPREFIX=$WINE_SESSION_PREFIX "$WINE_SERVER" -k 2>/dev/null
        WINEPREFIX=$WINE_SESSION_PREFIX "$WINE_SERVER" -w 2>/dev/null
        if [[ ${WINE_KEEP_PREFIX:-0} == 1 ]]; then
            wine_log "prefix kept at $WINE_SESSION_PREFIX"
        else
            rm -rf "$WINE_SESSION_PREFIX"
        fi
    fi
    WINE_SESSION_PREFIX=
    return $status
}

# Sets a registry value of the session's user (for instance the relay
# filter of Wine's debug channel).
wine_reg_set() {
    local key=$1 name=$2 value=$3
    wine_exec reg add "$key" /v "$name" /d "$value" /f >/dev/null 2>&1
}

wine_reg_delete() {
    local key=$1 name=$2
    wine_exec reg delete "$key" /v "$name" /f >/dev/null 2>&1 || true
}

# The Windows name of a Unix path: C:\... inside the prefix's drive_c,
# Z:\... (Wine's view of the whole file system) elsewhere.
wine_path() {
    local path
    path=$(realpath -m "$1")
    local drive_c
    drive_c=$(realpath -m "$WINEPREFIX/drive_c")
    if [[ $path == "$drive_c" || $path == "$drive_c"/* ]]; then
        path=${path#"$drive_c"}
        path="C:${path//\//\\}"
    else
        path="Z:${path//\//\\}"
    fi
    [[ $path == ?: ]] && path+="\\"
    printf '%s\n' "$path"
}
