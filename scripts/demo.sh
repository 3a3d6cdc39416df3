#!/usr/bin/env bash
# Installs what is missing, builds, starts the virtual device as a
# PIC18F26K80 on a free COM number, and flashes the bundled firmware into it.
source "$(dirname "$0")/common.sh"
pelmark_install_missing
pelmark_build

work="$(mktemp -d)"
export PELMARK_PORT_DIR="$work/ports"
mkdir -p "$PELMARK_PORT_DIR"
devsim="$PELMARK_BUILD/devsim/pelmark-devsim"
flash="$PELMARK_BUILD/cli/pelmark-flash"

coproc DEVICE { exec "$devsim" --chip 0x48 --bios 5 --board 5 --preparation 0x04 --com auto --dump "$work/device.hex"; }
devpid=$DEVICE_PID
cleanup() { kill "$devpid" 2>/dev/null || true; wait "$devpid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
read -r pty <&"${DEVICE[0]}"
read -r com <&"${DEVICE[0]}"
echo "== virtual device: PIC18F26K80 on $com ($pty)"
"$flash" --version
status=0
"$flash" --port "$com" || status=$?
exit "$status"
