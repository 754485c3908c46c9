#!/bin/sh
# Runs a test program under umockdev's preload, which must come before the sanitizer runtime
# (so the sanitizer is told not to insist on being first). Without umockdev the program runs
# as it is and its udev tests skip, saying why.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export ASAN_OPTIONS
if command -v umockdev-wrapper >/dev/null 2>&1; then exec umockdev-wrapper "$@"; fi
exec "$@"
