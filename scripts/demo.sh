#!/usr/bin/env bash
# Installs what is missing, builds, starts the virtual device as a
# PIC18F26K80 on a free COM number, and flashes the bundled firmware into it.
source "$(dirname "$0")/common.sh"
pelmark_install_missing
pelmark_build

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
pelmark_flash_demo "$PELMARK_BUILD/devsim/pelmark-devsim" "$PELMARK_BUILD/cli/pelmark-flash" "$work"
