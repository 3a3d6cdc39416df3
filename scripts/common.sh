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
  libcli11-dev nlohmann-json3-dev libudev-dev
  fonts-dejavu-core fonts-liberation2
)

pelmark_install_missing() {
  local missing=()
  for p in "${PELMARK_PACKAGES[@]}" "$@"; do
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
