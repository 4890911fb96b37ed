# shellcheck shell=bash
# Shared by tools/demo and tools/test: quiet steps with their output kept
# in a log that is shown only when the step fails.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
LOGS="$ROOT/build/logs"
JOBS=$(nproc 2>/dev/null || echo 2)
mkdir -p "$LOGS"

# step NAME COMMAND...: runs COMMAND with its output in build/logs/NAME.log.
step() {
    local name=$1
    shift
    local started=$SECONDS
    if "$@" >"$LOGS/$name.log" 2>&1; then
        printf '  %-28s ok (%ds)\n' "$name" $((SECONDS - started))
    else
        printf '  %-28s FAILED (%ds), last lines of build/logs/%s.log:\n' "$name" $((SECONDS - started)) "$name"
        tail -n 40 "$LOGS/$name.log" | sed 's/^/    /'
        return 1
    fi
}

build_preset() {
    cmake --preset "$1" && cmake --build --preset "$1" -j "$JOBS"
}

build_all() {
    step "build host" build_preset host
    step "build host-asan" build_preset host-asan
    step "build win32" build_preset win32
    step "build win64" build_preset win64
}
