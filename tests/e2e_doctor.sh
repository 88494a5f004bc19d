#!/usr/bin/env bash
# tolvane-probe doctor against made-up /sys, /dev, /proc and /etc trees: exact lines and exit codes.
# Runs in a network namespace of its own so the discovery line sees only interfaces made here.
set -euo pipefail

BIN=$(cd "${1:?usage: e2e_doctor.sh BUILD/bin}" && pwd)
if [[ -z "${DOCTOR_TEST_NETNS:-}" ]]; then
    unshare -n true 2>/dev/null || { echo "e2e_doctor: cannot create a network namespace" >&2; exit 1; }
    exec unshare -n env DOCTOR_TEST_NETNS=1 bash "$0" "$BIN"
fi
ip link set lo up

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export XDG_DATA_HOME=$WORK/data
failures=0

# A machine with one FTDI adapter, owned root:dialout 0660, and a user alice (1000) whose session has
# dialout (20). Scenarios change what they need on top of it.
base_tree() {
    local r=$1
    mkdir -p "$r"/sys/bus/usb-serial/drivers/ftdi_sio "$r"/sys/devices/usb1/1-1:1.0/ttyUSB0 \
             "$r"/sys/class/tty/tty0 "$r"/dev/serial/by-id "$r"/proc/net "$r"/proc/self "$r"/etc \
             "$r"/sys/bus/usb-serial/devices/ttyUSB0
    ln -s ../../../bus/usb-serial/drivers/ftdi_sio "$r"/sys/devices/usb1/1-1:1.0/ttyUSB0/driver
    mkdir -p "$r"/sys/class/tty/ttyUSB0
    ln -s ../../../devices/usb1/1-1:1.0/ttyUSB0 "$r"/sys/class/tty/ttyUSB0/device
    # A built-in slot with no UART behind it, and a virtual console: neither is a serial device.
    mkdir -p "$r"/sys/class/tty/ttyS3/device && echo 0 > "$r"/sys/class/tty/ttyS3/type
    : > "$r"/dev/ttyUSB0 && chown 0:20 "$r"/dev/ttyUSB0 && chmod 0660 "$r"/dev/ttyUSB0
    ln -s ../../ttyUSB0 "$r"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0
    echo 1 > "$r"/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
    printf 'root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\nbob:x:1001:1001::/home/bob:/bin/sh\n' > "$r"/etc/passwd
    printf 'root:x:0:\ndialout:x:20:alice\nalice:x:1000:\n' > "$r"/etc/group
    printf 'Name:\ttolvane-probe\nUid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\nGroups:\t20 1000 \n' > "$r"/proc/self/status
    local table
    for table in tcp tcp6 udp udp6; do
        echo "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode" > "$r/proc/net/$table"
    done
}

# process ROOT PID COMM [SOCKET-INODE...]
process() {
    local r=$1 pid=$2 comm=$3 fd=3
    mkdir -p "$r/proc/$pid/fd"
    echo "$comm" > "$r/proc/$pid/comm"
    for inode in "${@:4}"; do
        ln -s "socket:[$inode]" "$r/proc/$pid/fd/$fd"
        fd=$((fd + 1))
    done
}

# socket ROOT TABLE LOCAL-ADDRESS STATE UID INODE
socket() {
    printf '   0: %s 00000000:0000 %s 00000000:00000000 00:00000000 00000000  %s        0 %s 1 0000000000000000 100 0 0 10 0\n' \
        "$3" "$4" "$5" "$6" >> "$1/proc/net/$2"
}

# expect NAME EXIT-CODE ROOT <<< expected lines
expect() {
    local name=$1 code=$2 root=$3 got rc=0
    got=$(TOLVANE_DOCTOR_ROOT=$root "$BIN/tolvane-probe" doctor) || rc=$?
    if [[ "$got" != "$(cat)" || $rc -ne $code ]]; then
        echo "FAIL $name (exit $rc, expected $code):"
        echo "$got"
        failures=$((failures + 1))
    else
        echo "PASS $name"
    fi
}

INI=$XDG_DATA_HOME/tolvane/Tolvane.ini

# --- A working installation: every line OK, the discovery line names the first usable interface.
R=$WORK/healthy; base_tree "$R"
mkdir -p "$XDG_DATA_HOME/tolvane" && printf '[Default]\nPort=ttyUSB0\n' > "$INI"
socket "$R" tcp 00000000:1B58 0A 1000 5001
socket "$R" udp6 00000000000000000000000000000000:88FE 07 1000 5002
socket "$R" tcp 0100007F:A000 01 1000 5003 # an unrelated connection
process "$R" 900 tolvane 5001 5002
ip link add eth-test address 02:00:00:00:00:05 type veth peer name VMnet1 address 02:00:00:00:00:09
ip addr add 192.0.2.5/24 dev eth-test
ip addr add 192.0.2.9/24 dev VMnet1
ip link set eth-test up && ip link set VMnet1 up
expect healthy 0 "$R" <<EOF
OK   serial: /dev/ttyUSB0 (ftdi_sio), stable name /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0; choose ttyUSB0 in Config > Serial
OK   user: alice is in group dialout
OK   access: alice may read and write /dev/ttyUSB0 (-rw-rw---- root dialout)
OK   services: neither ModemManager nor brltty is running
OK   latency: /dev/ttyUSB0 latency timer 1 ms: the adapter may hold a reply up to 1 ms before passing it on, harmless for projector control
OK   config: $INI names port ttyUSB0, which is present
OK   tcp 7000: taken by tolvane (pid 900): a bridge is already running here, a second one would not get the port
OK   udp 35070: taken by tolvane (pid 900): a bridge is already running here, a second one would not get the port
OK   discovery: replies and the window title name 192.0.2.5 and 02:00:00:00:00:05 (interface eth-test); skipped because the name contains "VM": VMnet1
EOF
ip link del eth-test

# --- Not in dialout, port grabbers running, another program on TCP 7000, a stale port in the INI,
# a slow adapter, and no usable network interface.
R=$WORK/trouble; base_tree "$R"
printf 'Name:\ttolvane-probe\nUid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\nGroups:\t1000\n' > "$R"/proc/self/status
printf 'root:x:0:\ndialout:x:20:\nalice:x:1000:\n' > "$R"/etc/group
printf '[Default]\nPort=ttyUSB7\n' > "$INI"
echo 16 > "$R"/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
mkdir -p "$R"/sys/bus/usb-serial/devices/ttyUSB1 && echo 255 > "$R"/sys/bus/usb-serial/devices/ttyUSB1/latency_timer
process "$R" 123 ModemManager
process "$R" 456 brltty
process "$R" 77 nc 7001
socket "$R" tcp6 00000000000000000000000000000000:1B58 0A 1000 7001
expect trouble 1 "$R" <<EOF
OK   serial: /dev/ttyUSB0 (ftdi_sio), stable name /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0; choose ttyUSB0 in Config > Serial
WARN user: alice is not in group dialout, which may open serial devices on Debian: sudo usermod -aG dialout alice, then log out and back in
FAIL access: alice may not open /dev/ttyUSB0 (-rw-rw---- root dialout): alice is not in group dialout; sudo usermod -aG dialout alice, then log out and back in; until then Tolvane's "Error" box says "Permission denied"
WARN services: ModemManager is running (pid 123): it probes new serial devices with modem commands and may hold an adapter for seconds after it is plugged in; without a modem: sudo systemctl disable --now ModemManager
WARN services: brltty is running (pid 456): it claims some USB serial adapters (CH340, CP210x) as braille displays and their /dev/ttyUSB* vanishes; without a braille display: sudo apt remove brltty
OK   latency: /dev/ttyUSB0 latency timer 16 ms: the adapter may hold a reply up to 16 ms before passing it on, harmless for projector control
WARN latency: /dev/ttyUSB1 latency timer 255 ms: the adapter may hold each reply up to 255 ms, long enough for a control program to time out; echo 16 | sudo tee /sys/bus/usb-serial/devices/ttyUSB1/latency_timer
FAIL config: $INI names port ttyUSB7, but /dev/ttyUSB7 does not exist; choose a present port in Config > Serial and press Apply
FAIL tcp 7000: taken by nc (pid 77): Tolvane cannot listen and control programs reach that program instead; stop it
OK   udp 35070: free, Tolvane can receive discovery probes
WARN discovery: no interface is up with an IPv4 address other than loopback and a name without "VM", so replies and the window title name ???; connect the network, then restart Tolvane
EOF

# --- Added to dialout after logging in; a device only root may open; sockets of a user whose
# processes cannot be seen; the serial console is no port for the projector.
R=$WORK/session; base_tree "$R"
printf 'Name:\ttolvane-probe\nUid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\nGroups:\t1000\n' > "$R"/proc/self/status
mkdir -p "$R"/sys/class/tty/ttyUSB1/device "$R"/sys/class/tty/ttyS0/device
: > "$R"/dev/ttyUSB1 && chmod 0600 "$R"/dev/ttyUSB1
echo 4 > "$R"/sys/class/tty/ttyS0/type && echo Y > "$R"/sys/class/tty/ttyS0/console
: > "$R"/dev/ttyS0 && chmod 0600 "$R"/dev/ttyS0
rm "$INI"
socket "$R" tcp 00000000:1B58 0A 1001 8001
socket "$R" udp 00000000:88FE 07 1001 8002
ip link add VMnet8 type veth peer name vmpeer && ip addr add 198.51.100.7/24 dev VMnet8
ip link set VMnet8 up && ip link set vmpeer up # Qt counts an interface as up only with a link
expect session 1 "$R" <<EOF
WARN serial: /dev/ttyS0 (built-in UART) is the system console: kernel messages and a login prompt use it, so do not connect the projector there
OK   serial: /dev/ttyUSB0 (ftdi_sio), stable name /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0; choose ttyUSB0 in Config > Serial
OK   serial: /dev/ttyUSB1, no stable /dev/serial/by-id name; choose ttyUSB1 in Config > Serial
WARN user: alice was added to group dialout after this session began; log out and back in
FAIL access: alice may not open /dev/ttyUSB0 (-rw-rw---- root dialout): alice was added to group dialout after this session began; log out and back in; until then Tolvane's "Error" box says "Permission denied"
FAIL access: alice may not open /dev/ttyUSB1 (-rw------- root root): the group may not read and write it; Debian's udev rules give serial devices group dialout and mode 0660, so look for a local rule in /etc/udev/rules.d; until then Tolvane's "Error" box says "Permission denied"
OK   services: neither ModemManager nor brltty is running
OK   latency: /dev/ttyUSB0 latency timer 1 ms: the adapter may hold a reply up to 1 ms before passing it on, harmless for projector control
WARN config: no $INI yet, so Tolvane first tries port "Com3" and shows an "Error" box; choose the port in Config > Serial and press Apply
FAIL tcp 7000: taken by a program of user bob that this user cannot see (sudo tolvane-probe doctor names it): Tolvane cannot listen and control programs reach that program instead; stop it
WARN udp 35070: taken by a program of user bob that this user cannot see (sudo tolvane-probe doctor names it): Tolvane shares the port only if that program allows sharing, otherwise discovery probes go unanswered; stop it
WARN discovery: no interface is up with an IPv4 address other than loopback and a name without "VM", so replies and the window title name ???; connect the network, then restart Tolvane; skipped because the name contains "VM": VMnet8
EOF
ip link del VMnet8

# --- Nothing plugged in, run as root: only warnings and the missing device, which fails.
R=$WORK/empty; mkdir -p "$R"/proc/self "$R"/etc
printf 'Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nGroups:\t\n' > "$R"/proc/self/status
expect empty 1 "$R" <<EOF
FAIL serial: no serial device to use (no /dev/ttyUSB*, /dev/ttyACM* or free built-in port); plug in the USB serial adapter and run this again. Without one Tolvane answers every command itself instead of the projector
WARN user: running as root, so the access lines tell what root may do; run tolvane-probe doctor as the user who starts Tolvane
OK   services: neither ModemManager nor brltty is running
OK   config: no $INI yet; Tolvane writes it when you press Apply in Config > Serial
OK   tcp 7000: free, Tolvane can listen for the control program
OK   udp 35070: free, Tolvane can receive discovery probes
WARN discovery: no interface is up with an IPv4 address other than loopback and a name without "VM", so replies and the window title name ???; connect the network, then restart Tolvane
EOF

# Arguments: help on stdout with 0, anything else is a usage error.
"$BIN/tolvane-probe" doctor --help | grep -q '^usage: tolvane-probe doctor' || { echo "FAIL doctor --help"; failures=$((failures + 1)); }
rc=0; "$BIN/tolvane-probe" doctor --bogus 2>/dev/null || rc=$?
[[ $rc -eq 2 ]] || { echo "FAIL doctor --bogus exited $rc, expected 2"; failures=$((failures + 1)); }

[[ $failures -eq 0 ]] && echo "e2e_doctor: all scenarios passed" || { echo "e2e_doctor: $failures failed"; exit 1; }
