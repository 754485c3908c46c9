#!/usr/bin/env bash
# End to end: a device and then a favourite chosen in the settings window by selection alone, as
# assistive technology chooses over the AT-SPI bus (no click, no key), and the simulated device
# taking the chosen favourite's speed. The set-up is the AT-SPI test's own.
# Arguments: the velmora-ctl program (the other programs and the built pane lie beside it).
exec bash "$(dirname "$0")/settings_atspi_e2e.sh" "$1" choose-by-selection
