#!/usr/bin/env bash
# tolvane-probe doctor against made-up /sys, /dev, /proc and /etc trees: the decisive lines and exit codes.
# Runs in a network namespace of its own so the discovery line sees only interfaces made here. Device
# names are built from variables: they exist only inside the made-up trees.
set -euo pipefail

BIN=$(cd "${1:?usage: e2e_doctor.sh BUILD/bin}" && pwd)
source "$(dirname "$0")/../scripts/lib/netns.sh"
netns_reexec "$0" "$BIN"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export XDG_DATA_HOME=$WORK/data
INI=$("$BIN/tolvane-probe" --print-ini-path)
mkdir -p "${INI%/*}"
usb=ttyUSB acm=ttyACM uart=ttyS failures=0

# One FTDI adapter (root:dialout 0660, latency timer 1 ms) and alice in group dialout (20).
base_tree() {
    local r=$1 sys=$1/sys/devices/usb1/1-1:1.0/${usb}0
    mkdir -p "$r"/sys/bus/usb-serial/drivers/ftdi_sio "$sys" "$r/sys/class/tty/${usb}0" "$r"/dev/serial/by-id \
        "$r"/proc/net "$r"/proc/self "$r"/etc "$r/sys/bus/usb-serial/devices/${usb}0"
    ln -s ../../../bus/usb-serial/drivers/ftdi_sio "$sys/driver"
    ln -s "../../../devices/usb1/1-1:1.0/${usb}0" "$r/sys/class/tty/${usb}0/device"
    : > "$r/dev/${usb}0" && chown 0:20 "$r/dev/${usb}0" && chmod 0660 "$r/dev/${usb}0"
    ln -s "../../${usb}0" "$r"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0
    echo 1 > "$r/sys/bus/usb-serial/devices/${usb}0/latency_timer"
    printf 'root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n' > "$r"/etc/passwd
    printf 'root:x:0:\ndialout:x:20:alice\nalice:x:1000:\n' > "$r"/etc/group
    printf 'Uid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\nGroups:\t20 1000\n' > "$r"/proc/self/status
    printf '  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n' |
        tee "$r"/proc/net/{tcp,tcp6,udp,udp6} >/dev/null
}

process() { # ROOT PID COMM [SOCKET-INODE...]
    local r=$1 pid=$2 comm=$3 fd=3
    mkdir -p "$r/proc/$pid/fd"
    echo "$comm" > "$r/proc/$pid/comm"
    for inode in "${@:4}"; do
        ln -s "socket:[$inode]" "$r/proc/$pid/fd/$fd"
        fd=$((fd + 1))
    done
}

socket() { # ROOT TABLE LOCAL-ADDRESS STATE UID INODE
    printf '   0: %s 00000000:0000 %s 00000000:00000000 00:00000000 00000000  %s        0 %s 1 0000000000000000 100 0 0 10 0\n' \
        "$3" "$4" "$5" "$6" >> "$1/proc/net/$2"
}

expect() { # NAME EXIT-CODE ROOT <<< lines that must all be in the output
    local got rc=0 missing
    got=$(TOLVANE_DOCTOR_ROOT=$3 "$BIN/tolvane-probe" doctor) || rc=$?
    missing=$(grep -vxF -f <(printf '%s\n' "$got") || true)
    [[ -z "$missing" && $rc -eq $2 ]] && { echo "PASS $1"; return; }
    printf 'FAIL %s (exit %s, expected %s); missing:\n%s\n--- got:\n%s\n' "$1" "$rc" "$2" "$missing" "$got"
    failures=$((failures + 1))
}

# --- A working installation: a bridge already holds both ports; the discovery line skips the VM interface.
# A second adapter has no by-id name; the INI names the first by its kernel name.
R=$WORK/healthy; base_tree "$R"
mkdir -p "$R/sys/class/tty/${acm}0/device"
: > "$R/dev/${acm}0" && chown 0:20 "$R/dev/${acm}0" && chmod 0660 "$R/dev/${acm}0"
printf '[Default]\nPort=%s0\n' "$usb" > "$INI"
BYID=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KX1-if00-port0
socket "$R" tcp 00000000:1B58 0A 1000 5001
socket "$R" udp6 00000000000000000000000000000000:88FE 07 1000 5002
process "$R" 900 tolvane 5001 5002
ip link add eth-test address 02:00:00:00:00:05 type veth peer name VMnet1 address 02:00:00:00:00:09
ip addr add 192.0.2.5/24 dev eth-test && ip addr add 192.0.2.9/24 dev VMnet1
ip link set eth-test up && ip link set VMnet1 up
expect healthy 0 "$R" <<EOF
OK   serial: /dev/${usb}0 (ftdi_sio), stable name $BYID; choose ${usb}0 in Config > Serial, or to keep it across replugs and reboots write Port=$BYID under [Default] in Tolvane.ini
OK   serial: /dev/${acm}0, no stable /dev/serial/by-id name; choose ${acm}0 in Config > Serial (Port=${acm}0 in Tolvane.ini)
OK   access: alice may read and write /dev/${usb}0 (-rw-rw---- root dialout)
OK   config: $INI names port ${usb}0, which is present; Port=$BYID would name the same adapter when it comes back under another name
OK   tcp 7000: taken by tolvane (pid 900): a bridge is already running here, a second one would not get the port
OK   discovery: replies and the window title name 192.0.2.5 and 02:00:00:00:00:05 (interface eth-test); skipped because the name contains "VM": VMnet1
EOF
ip link del eth-test

# --- The INI names the adapter by its by-id link, which the doctor follows inside the tree.
printf '[Default]\nPort=%s\n' "$BYID" > "$INI"
expect by-id 0 "$R" <<EOF
OK   config: $INI names port $BYID, which is present
EOF

# --- Not in dialout, the console on the built-in port, a port grabber, a slow adapter, a stale port in
# the INI, another program on TCP 7000, and no usable network interface.
R=$WORK/trouble; base_tree "$R"
sed -i 's/^Groups:.*/Groups:\t1000/' "$R"/proc/self/status
printf 'root:x:0:\ndialout:x:20:\nalice:x:1000:\n' > "$R"/etc/group
mkdir -p "$R/sys/class/tty/${uart}0/device" "$R/sys/bus/usb-serial/devices/${usb}1"
echo 4 > "$R/sys/class/tty/${uart}0/type" && echo Y > "$R/sys/class/tty/${uart}0/console"
: > "$R/dev/${uart}0" && chmod 0600 "$R/dev/${uart}0"
echo 255 > "$R/sys/bus/usb-serial/devices/${usb}1/latency_timer"
printf '[Default]\nPort=%s7\n' "$usb" > "$INI"
process "$R" 123 ModemManager
process "$R" 77 nc 7001
socket "$R" tcp6 00000000000000000000000000000000:1B58 0A 1000 7001
expect trouble 1 "$R" <<EOF
WARN serial: /dev/${uart}0 (built-in UART) is the system console: kernel messages and a login prompt use it, so do not connect the projector there
FAIL access: alice may not open /dev/${usb}0 (-rw-rw---- root dialout): alice is not in group dialout; sudo usermod -aG dialout alice, then log out and back in; until then Tolvane's "Error" box says "Permission denied"
WARN services: ModemManager is running (pid 123): it probes new serial devices with modem commands and may hold an adapter for seconds after it is plugged in; without a modem: sudo systemctl disable --now ModemManager
WARN latency: /dev/${usb}1 latency timer 255 ms: the adapter may hold each reply up to 255 ms, long enough for a control program to time out; echo 16 | sudo tee /sys/bus/usb-serial/devices/${usb}1/latency_timer
FAIL config: $INI names port ${usb}7, but /dev/${usb}7 does not exist; choose a present port in Config > Serial and press Apply
FAIL tcp 7000: taken by nc (pid 77): Tolvane cannot listen and control programs reach that program instead; stop it
WARN discovery: no interface is up with an IPv4 address other than loopback and a name without "VM", so replies and the window title name ???; connect the network, then restart Tolvane
EOF

# --- Nothing plugged in: the missing device fails.
R=$WORK/empty; mkdir -p "$R"/proc/self "$R"/etc
printf 'Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nGroups:\t\n' > "$R"/proc/self/status
expect empty 1 "$R" <<EOF
FAIL serial: no serial device to use (no /dev/${usb}*, /dev/ttyACM* or free built-in port); plug in the USB serial adapter and run this again. Without one Tolvane answers every command itself instead of the projector
EOF

[[ $failures -eq 0 ]] && echo "e2e_doctor: all scenarios passed" || { echo "e2e_doctor: $failures failed"; exit 1; }
