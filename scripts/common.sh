# Shared by the scripts: installs missing Debian packages (one apt-get update
# per run at most) and knows the build folders.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc)}

# Packages for building and testing on a fresh Debian 12 machine.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libssl-dev googletest libgtest-dev python3
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine wine64)
# Building and checking the Debian packages (scripts/package.sh), and the
# package install test.
PACKAGE_PACKAGES=(dpkg-dev file lintian p11-kit opensc)

# Building the Windows installer (scripts/package-windows.sh: wixl, msibuild,
# msiinfo) and installing it under Wine's msiexec (tests/installer/msi_check.sh).
WINDOWS_PACKAGE_PACKAGES=(msitools wixl file wine wine64)

# Packages of scripts/msvc-check.sh and scripts/device-exports.sh: clang-cl,
# lld-link, llvm-readobj, llvm-nm, llvm-undname and llvm-dlltool, mingw-w64's
# Windows headers, Wine's runtime DLLs, Python for the export check.
MSVC_CHECK_PACKAGES=(cmake ninja-build clang-14 clang-tools-14 lld-14 llvm-14 python3 mingw-w64-x86-64-dev
    binutils-mingw-w64-x86-64 wine wine64)

apt_updated=0
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if [ $apt_updated -eq 0 ]; then
        $sudo apt-get update -qq
        apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# configure_and_build FOLDER [cmake options...]
configure_and_build() {
    local folder=$1
    shift
    cmake -S "$ROOT" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    ninja -C "$folder" -j"$JOBS"
}

# export_wine_environment [PREFIX]: the Wine prefix (default build/wineprefix),
# made when it does not exist yet.
export_wine_environment() {
    export WINEPREFIX="${1:-$ROOT/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
}
