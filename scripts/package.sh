#!/usr/bin/env bash
# Makes the packages users install, and with --check tries them:
#
#   deb  pelmark-updater_<version>-<revision>_<arch>.deb, made by CPack in the Linux build
#        ($PELMARK_BUILD, default build/), which is configured and built first
#   zip  pelmark-flash-<version>-win64.zip, made by CPack in the Windows cross
#        build ($PELMARK_WIN_BUILD, default build-win/, the one the Wine check
#        uses); only pelmark-flash.exe is built for it
#
# Usage: scripts/package.sh [--check] [deb] [zip]     (neither: both)
#
# The packages are copied to $PELMARK_PACKAGE_DIR (default dist/). --check:
#   deb  lintian reports no error; unpacked into a scratch folder (dpkg-deb -x)
#        the package holds what it should, its programs find their libraries,
#        pelmark-flash --version names the package's version and --help works,
#        and the unpacked pelmark-flash writes the bundled firmware into the
#        unpacked pelmark-devsim; every manual page renders without a warning
#        and names every option of its program's --help
#   zip  the zip holds pelmark-flash.exe, README.txt and LICENSE.txt; the
#        program is stripped and imports only DLLs of Windows itself
# Installs what is missing (the lists are in scripts/common.sh). With --check
# the last line reads "package: N passed, M failed" and the exit status is
# non-zero when a check failed.
source "$(dirname "$0")/common.sh"

CHECK=0
WANT=()
for arg in "$@"; do
  case "$arg" in
    --check) CHECK=1 ;;
    deb | zip) WANT+=("$arg") ;;
    *)
      echo "usage: $0 [--check] [deb] [zip]" >&2
      exit 2
      ;;
  esac
done
((${#WANT[@]})) || WANT=(deb zip)
DIST="${PELMARK_PACKAGE_DIR:-$PELMARK_ROOT/dist}"
mkdir -p "$DIST"
DIST="$(cd "$DIST" && pwd)"
umask 022

SCRATCH="$(mktemp -d /tmp/pelmark-package.XXXXXX)"
trap 'rm -rf "$SCRATCH"' EXIT

passed=0
failed=0
# check TEXT COMMAND...: runs a check, counts it, names it when it fails.
check() {
  local text=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $text"
  else
    failed=$((failed + 1))
    echo "FAILED: $text"
  fi
}

# cpack_into BUILD GENERATOR: runs CPack in BUILD; prints the package's path.
cpack_into() {
  local build=$1 generator=$2 out="$1/cpack"
  rm -rf "$out"
  cpack -G "$generator" --config "$build/CPackConfig.cmake" -B "$out" >&2
  find "$out" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.zip' \) | head -n 1
}

# ---- The Debian package -------------------------------------------------------------
make_deb() {
  pelmark_install_missing "${PELMARK_PACKAGE_TOOLS[@]}"
  pelmark_build
  local made
  made="$(cpack_into "$PELMARK_BUILD" DEB)"
  [ -f "$made" ] || { echo "package: CPack made no Debian package" >&2; return 1; }
  rm -f "$DIST"/pelmark-updater_*.deb
  cp "$made" "$DIST/"
  DEB="$DIST/$(basename "$made")"
  echo "== $DEB ($(stat -c %s "$DEB") bytes)"
}

# The files a user gets, besides the directories.
DEB_FILES=(
  usr/bin/pelmark-updater usr/bin/pelmark-flash usr/bin/pelmark-devsim
  usr/share/applications/pelmark-updater.desktop
  usr/share/icons/hicolor/256x256/apps/pelmark-updater.png
  usr/share/icons/hicolor/scalable/apps/pelmark-updater.svg
  usr/share/man/man1/pelmark-updater.1.gz usr/share/man/man1/pelmark-flash.1.gz
  usr/share/man/man1/pelmark-devsim.1.gz
  usr/share/doc/pelmark-updater/README.md usr/share/doc/pelmark-updater/copyright
  usr/share/doc/pelmark-updater/changelog.Debian.gz
)

deb_holds_its_files() {
  local listed missing=()
  listed="$(dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./||')"
  for f in "${DEB_FILES[@]}"; do grep -qxF "$f" <<<"$listed" || missing+=("$f"); done
  ((${#missing[@]} == 0)) || echo "  missing: ${missing[*]}"
  ((${#missing[@]} == 0))
}

lintian_finds_no_error() {
  local rc=0
  lintian --display-info --fail-on error "$DEB" >"$SCRATCH/lintian.txt" 2>&1 || rc=$?
  sed 's/^/  lintian: /' "$SCRATCH/lintian.txt"
  [ "$rc" -eq 0 ] && ! grep -q '^E: ' "$SCRATCH/lintian.txt"
}

dependencies_computed() {
  local depends
  depends="$(dpkg-deb -f "$DEB" Depends)"
  echo "  Depends: $depends"
  grep -q 'libqt6widgets6' <<<"$depends" && grep -q 'libudev1' <<<"$depends" && grep -q 'libc6' <<<"$depends"
}

programs_find_their_libraries() {
  local p ok=0
  for p in pelmark-updater pelmark-flash pelmark-devsim; do
    if ! ldd "$ROOT/usr/bin/$p" >"$SCRATCH/ldd.txt" 2>&1 || grep -q 'not found' "$SCRATCH/ldd.txt"; then
      echo "  $p:" && cat "$SCRATCH/ldd.txt"
      ok=1
    fi
  done
  return "$ok"
}

programs_stripped() {
  local p ok=0
  for p in pelmark-updater pelmark-flash pelmark-devsim; do
    if ! file -b "$ROOT/usr/bin/$p" | grep -q ', stripped'; then
      echo "  not stripped: $p"
      ok=1
    fi
  done
  return "$ok"
}

version_is_the_packages() {
  local first
  first="$("$ROOT/usr/bin/pelmark-flash" --version | head -n 1)"
  echo "  $first"
  local version
  version="$(dpkg-deb -f "$DEB" Version)"
  [ "$first" = "pelmark-flash ${version%-*}" ]  # the version without the Debian revision
}

help_works() {
  "$ROOT/usr/bin/pelmark-flash" --help >"$SCRATCH/flash-help.txt" &&
    grep -q '^Usage: pelmark-flash' "$SCRATCH/flash-help.txt" &&
    "$ROOT/usr/bin/pelmark-devsim" --help >"$SCRATCH/devsim-help.txt" &&
    grep -q '^Usage: pelmark-devsim' "$SCRATCH/devsim-help.txt"
}

unpacked_update_succeeds() {
  local work="$SCRATCH/demo" rc=0
  mkdir -p "$work"
  (pelmark_flash_demo "$ROOT/usr/bin/pelmark-devsim" "$ROOT/usr/bin/pelmark-flash" "$work") \
    >"$work/out.txt" 2>&1 || rc=$?
  sed 's/^/  /' "$work/out.txt" | tail -n 3
  # Status 0 is an updated device (the outcome text depends on the build
  # tag's front end); it holds program rows and the EEPROM bytes (the
  # extended address record of 0xF00000) that the update wrote.
  [ "$rc" -eq 0 ] && [[ "$(tail -n 1 "$work/out.txt")" == "Outcome: "* ]] &&
    grep -q '^:0200000400F00A$' "$work/device.hex" && [ "$(grep -c '^:10' "$work/device.hex")" -gt 100 ]
}

manuals_render_without_warnings() {
  local page out ok=0
  for page in "$ROOT"/usr/share/man/man1/*.1.gz; do
    out="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
    if [ -n "$out" ]; then
      echo "  $(basename "$page"): $out"
      ok=1
    fi
  done
  return "$ok"
}

# Every option of the program's --help appears in its manual page.
manual_names_every_option() {
  local program=$1 help=$2 page="$ROOT/usr/share/man/man1/$1.1.gz" text missing=()
  text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
  for option in $(grep -oE -- '--[a-z0-9][a-z0-9-]*' "$help" | sort -u); do
    grep -qF -- "$option" <<<"$text" || missing+=("$option")
  done
  ((${#missing[@]} == 0)) || echo "  $program(1) lacks: ${missing[*]}"
  ((${#missing[@]} == 0))
}

check_deb() {
  ROOT="$SCRATCH/root"
  echo "== dpkg-deb -c"
  dpkg-deb -c "$DEB"
  check "the package holds the programs, desktop entry, icons, manual pages and documents" deb_holds_its_files
  check "lintian reports no error" lintian_finds_no_error
  check "dependencies computed from the programs" dependencies_computed
  dpkg-deb -x "$DEB" "$ROOT"
  check "the unpacked programs find their libraries" programs_find_their_libraries
  check "the programs are stripped" programs_stripped
  check "pelmark-flash --version names the package's version" version_is_the_packages
  check "pelmark-flash --help and pelmark-devsim --help" help_works
  check "the unpacked pelmark-flash updates the unpacked pelmark-devsim" unpacked_update_succeeds
  check "the manual pages render without warnings" manuals_render_without_warnings
  check "pelmark-flash(1) names every option" manual_names_every_option pelmark-flash "$SCRATCH/flash-help.txt"
  check "pelmark-devsim(1) names every option" manual_names_every_option pelmark-devsim "$SCRATCH/devsim-help.txt"
}

# ---- The Windows zip ----------------------------------------------------------------
# DLLs that every Windows has; anything else would have to ship beside the program.
SYSTEM_DLLS="advapi32.dll bcrypt.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll winmm.dll"

make_zip() {
  pelmark_install_missing "${PELMARK_CROSS_PACKAGES[@]}"
  pelmark_build_missing "$PELMARK_BUILD" tools/fwgen/pelmark-fwgen
  pelmark_cross_configure "$PELMARK_BUILD"
  cmake --build "$PELMARK_WIN_BUILD" -j "$PELMARK_JOBS" --target pelmark-flash
  local made
  made="$(cpack_into "$PELMARK_WIN_BUILD" ZIP)"
  [ -f "$made" ] || { echo "package: CPack made no zip" >&2; return 1; }
  rm -f "$DIST"/pelmark-flash-*-win64.zip
  cp "$made" "$DIST/"
  ZIP="$DIST/$(basename "$made")"
  echo "== $ZIP ($(stat -c %s "$ZIP") bytes)"
}

zip_holds_its_files() {
  local top
  top="$(basename "$ZIP" .zip)"
  unzip -Z1 "$ZIP" | sort >"$SCRATCH/zip.txt"
  printf '%s\n' "$top/LICENSE.txt" "$top/README.txt" "$top/pelmark-flash.exe" | sort | diff - "$SCRATCH/zip.txt"
}

exe_imports_only_system_dlls() {
  local dll bad=() exe
  exe="$(find "$SCRATCH/zip" -name pelmark-flash.exe)"
  x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' >"$SCRATCH/dlls.txt"
  echo "  imports: $(tr '\n' ' ' <"$SCRATCH/dlls.txt")"
  [ -s "$SCRATCH/dlls.txt" ] || return 1
  while read -r dll; do
    [[ " $SYSTEM_DLLS " == *" ${dll,,} "* ]] || bad+=("$dll")
  done <"$SCRATCH/dlls.txt"
  ((${#bad[@]} == 0)) || echo "  not a system DLL: ${bad[*]}"
  ((${#bad[@]} == 0))
}

exe_stripped() {
  local exe
  exe="$(find "$SCRATCH/zip" -name pelmark-flash.exe)"
  ! x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug_'
}

check_zip() {
  echo "== unzip -l"
  unzip -l "$ZIP"
  check "the zip holds pelmark-flash.exe, README.txt and LICENSE.txt" zip_holds_its_files
  mkdir -p "$SCRATCH/zip"
  unzip -q "$ZIP" -d "$SCRATCH/zip"
  check "pelmark-flash.exe imports only DLLs of Windows itself" exe_imports_only_system_dlls
  check "pelmark-flash.exe is stripped" exe_stripped
}

for what in "${WANT[@]}"; do
  case "$what" in
    deb)
      make_deb
      [ "$CHECK" = 0 ] || check_deb
      ;;
    zip)
      [ "$CHECK" = 0 ] || pelmark_install_packages unzip
      make_zip
      [ "$CHECK" = 0 ] || check_zip
      ;;
  esac
done

if [ "$CHECK" = 1 ]; then
  echo "package: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
fi
