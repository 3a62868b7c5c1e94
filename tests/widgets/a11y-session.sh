#!/bin/sh
# Runs a test as a screen reader's desktop would run it: on a session bus of its own with the
# accessibility bus up, so Qt's AT-SPI bridge switches on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON).
exec dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    launcher=$!
    "$@"
    rc=$?
    kill "$launcher" 2>/dev/null
    exit $rc' sh "$@"
