#!/bin/sh
# run_on_accessibility_bus.sh BUS_LAUNCHER PROGRAM [ARGUMENT...]
#
# Runs PROGRAM as it runs beside a screen reader: on an X server (Xvfb), in a
# D-Bus session of its own with an accessibility bus (BUS_LAUNCHER, that is
# at-spi-bus-launcher), so that Qt's AT-SPI bridge switches itself on.
launcher=$1
shift
exec xvfb-run -a dbus-run-session -- sh -c '
    "$0" --launch-immediately &
    bus=$!
    "$@"
    status=$?
    kill "$bus" 2>/dev/null
    exit "$status"' "$launcher" "$@"
