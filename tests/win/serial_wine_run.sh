#!/bin/sh
# Runs the serial port's Windows test under Wine, with COM1 on a pty of our own:
#
#   serial_wine_run.sh TEST_EXE RELAY [PREFIX] [-- gtest options]
#
# TEST_EXE is the cross-built test_serial_port_win.exe, RELAY the Linux build of
# serial_pty_relay.cpp, PREFIX the Wine prefix (made when missing; default
# ${TMPDIR:-/tmp}/corvane-serial-wine). The prefix's Ports key maps COM1 to a link inside the
# prefix that the relay points at its pty, and COM2 to nothing. Wine maps the machine's own
# serial ports to the next free COM names (/dev/ttyS0 may be the machine's console): the test
# names COM1 only, and this script checks that COM1 leads to the relay's pty before the test
# starts. The wineserver is ours, its output kept in the prefix's wineserver.log.
set -eu

exe=$(realpath "$1")
relay=$(realpath "$2")
shift 2
prefix=${TMPDIR:-/tmp}/corvane-serial-wine
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    prefix=$1
    shift
fi
[ $# -gt 0 ] && [ "$1" = "--" ] && shift

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
link=$prefix/corvane-com1
mkdir -p "$prefix"
work=$(mktemp -d)
relay_pid=
cleanup() {
    [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Waits up to $2 tenths of a second for the shell condition $1.
wait_for() {
    i=0
    while ! eval "$1"; do
        i=$((i + 1))
        [ "$i" -gt "$2" ] && return 1
        sleep 0.1
    done
    return 0
}

"$relay" "$link" 300 >"$work/relay.out" 2>&1 &
relay_pid=$!
wait_for 'grep -q "^port " "$work/relay.out"' 50 || { cat "$work/relay.out"; exit 2; }
port=$(awk '/^port /{print $2}' "$work/relay.out")
pty=$(awk '/^pty /{print $2; exit}' "$work/relay.out")

# Our own wineserver: it dumps its object table when a pty it holds closes. Ready once it
# listens in its own folder.
start_server() {
    wineserver -f -p >>"$prefix/wineserver.log" 2>&1 &
    server_pid=$!
    wait_for '[ -S /proc/$server_pid/cwd/socket ]' 50 || true
}
if [ ! -f "$prefix/system.reg" ]; then
    start_server
    wineboot -i </dev/null >"$work/wineboot.log" 2>&1
fi
if ! grep -q "\"COM1\"=\"$link\"" "$prefix/system.reg" 2>/dev/null; then
    # Mapped before any program opens COM1; taken at the next start of Wine's services.
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$link" /f </dev/null >/dev/null 2>&1
    wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d '' /f </dev/null >/dev/null 2>&1
    wineserver -k
    wineserver -w
fi
start_server
wine cmd /c exit </dev/null >/dev/null 2>&1
com1=$(readlink -f "$prefix/dosdevices/com1" || true)
if [ "$com1" != "$pty" ]; then
    echo "COM1 leads to '$com1', not to the relay's pty $pty: not running" >&2
    exit 2
fi

CORVANE_PTY_RELAY=$port timeout 300 wine "$exe" "$@" </dev/null >"$work/test.out" 2>&1 && rc=0 || rc=$?
cat "$work/test.out"
exit "$rc"
