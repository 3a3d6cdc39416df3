# Shared by the setup scripts: install what is missing, configure, build.
# Sourced, not run.
set -euo pipefail

PELMARK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PELMARK_BUILD="${PELMARK_BUILD:-$PELMARK_ROOT/build}"
PELMARK_JOBS="${PELMARK_JOBS:-$(nproc)}"

# Debian packages the build and the tests need.
PELMARK_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev
  libcli11-dev nlohmann-json3-dev libudev-dev python3-jsonschema nettle-dev
  fonts-dejavu-core fonts-liberation2
)

# Debian packages the packaging needs (scripts/package.sh): CPack's DEB
# generator takes the dependencies from dpkg-shlibdeps, the package is checked
# with lintian, the manual pages with man.
PELMARK_PACKAGE_TOOLS=(dpkg-dev lintian man-db file)

# The cross build for 64-bit Windows (scripts/wine-check.sh, scripts/package.sh):
# mingw-w64 and googletest's sources for the Windows unit tests.
PELMARK_CROSS_PACKAGES=(g++-mingw-w64-x86-64 googletest cmake ninja-build)
PELMARK_WIN_BUILD="${PELMARK_WIN_BUILD:-$PELMARK_ROOT/build-win}"

# Installs the build's and the tests' packages and the ones named, when missing.
pelmark_install_missing() {
  pelmark_install_packages "${PELMARK_PACKAGES[@]}" "$@"
}

# Installs the packages named, when missing.
pelmark_install_packages() {
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

pelmark_build() {
  cmake -S "$PELMARK_ROOT" -B "$PELMARK_BUILD" -G Ninja "$@"
  cmake --build "$PELMARK_BUILD" -j "$PELMARK_JOBS"
}

# pelmark_build_missing BUILD PROGRAM... [-- CMAKE_ARGS...]: builds in BUILD
# those of the programs named (paths inside BUILD, e.g. tools/fwgen/pelmark-fwgen)
# that are not there yet, each as the target of its name; configures BUILD
# first, with CMAKE_ARGS, when it is not configured yet.
pelmark_build_missing() {
  local build=$1 need=() configure=()
  shift
  while (($#)); do
    if [ "$1" = "--" ]; then
      shift
      configure=("$@")
      break
    fi
    [ -x "$build/$1" ] || need+=("$(basename "$1")")
    shift
  done
  ((${#need[@]})) || return 0
  echo "== building ${need[*]} in $build"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$PELMARK_ROOT" -B "$build" -G Ninja "${configure[@]}" || return
  fi
  cmake --build "$build" -j "$PELMARK_JOBS" --target "${need[@]}" || return
}

# pelmark_cross_configure NATIVE_BUILD [WIN_BUILD]: configures the Windows cross
# build (default $PELMARK_WIN_BUILD) with the firmware generator of the native
# build NATIVE_BUILD.
pelmark_cross_configure() {
  cmake -S "$PELMARK_ROOT" -B "${2:-$PELMARK_WIN_BUILD}" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PELMARK_ROOT/cmake/toolchain-mingw64.cmake" \
    -DPELMARK_HOST_FWGEN="$1/tools/fwgen/pelmark-fwgen"
}

# pelmark_flash_demo DEVSIM FLASH WORK: starts the virtual device DEVSIM as a
# PIC18F26K80 on a free COM number of a port-map directory in WORK (exported
# as PELMARK_PORT_DIR), prints FLASH's --version and flashes the bundled
# firmware into the device with FLASH, then stops the device, which writes
# what it holds to WORK/device.hex. Returns FLASH's exit status.
pelmark_flash_demo() {
  local devsim=$1 flash=$2 work=$3 pty com status=0
  export PELMARK_PORT_DIR="$work/ports"
  mkdir -p "$PELMARK_PORT_DIR"
  coproc DEVICE { exec "$devsim" --chip 0x48 --bios 5 --board 5 --preparation 0x04 --com auto --dump "$work/device.hex"; }
  local devpid=$DEVICE_PID
  if ! read -r pty <&"${DEVICE[0]}" || ! read -r com <&"${DEVICE[0]}"; then
    echo "== the virtual device did not start" >&2
    wait "$devpid" || true
    return 1
  fi
  echo "== virtual device: PIC18F26K80 on $com ($pty)"
  "$flash" --version || status=$?
  if [ "$status" -eq 0 ]; then "$flash" --port "$com" || status=$?; fi
  kill "$devpid" 2>/dev/null || true
  wait "$devpid" 2>/dev/null || true
  return "$status"
}
