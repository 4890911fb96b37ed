# shellcheck shell=bash
# Debian packages the builds and tests need, installed when missing.
# Source this file and call ensure_packages; it is quiet when nothing is missing.

PROJECT_PACKAGES=(
    cmake make g++                            # host build
    googletest                                # GoogleTest sources in /usr/src/googletest
    g++-mingw-w64-i686 g++-mingw-w64-x86-64   # the two Windows builds
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    python3 python3-pefile                    # checks of the built programs (/usr/bin/python3)
    wine64                                    # end-to-end tests of the 64-bit programs
    clang libclang-rt-14-dev                  # fuzzers (libFuzzer) with the sanitizers
    clang-tidy cppcheck valgrind              # static analysis and memory checks
)

ensure_packages() {
    local missing=() package
    for package in "${PROJECT_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
