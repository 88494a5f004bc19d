#!/usr/bin/env bash
# Runs a test with every real serial device node (ttyS*, ttyUSB*, ttyACM*) replaced by /dev/null, in a
# mount namespace of its own (root or user namespaces needed). For tests that let Qt enumerate the
# system's ports: on kernels whose built-in UARTs use the serial8250 driver Qt opens each one to ask
# it, and one of them may be the machine's console.
set -euo pipefail
exec unshare -m bash -c 'for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    [ -e "$d" ] && mount --bind /dev/null "$d"
done
TOLVANE_SERIAL_MASKED=1 exec "$@"' serial-masked "$@"
