#!/bin/sh
# Prepares a program folder for running the gateway on this computer alone:
# xAP stays on loopback and the transceiver is the virtual one. Existing files
# are kept, so settings and devices survive between runs.
#   tools/make-demo-folder.sh <folder> <source tree>
set -eu
home=$1
src=$2
mkdir -p "$home/Config" "$home/Data" "$home/HTML" "$home/Scripts" "$home/bus"

if [ ! -f "$home/Config/qixXap.ini" ]; then
    cat > "$home/Config/qixXap.ini" <<INI
[INTERFACE]
BroadcastAddress=127.0.0.1
InterfaceAddress=127.0.0.1
INI
fi

if [ ! -f "$home/Config/registry.reg" ]; then
    cat > "$home/Config/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]
"0"="VIRTUAL\\\\$home/bus/cm19a"
REG
fi

if [ -d "$src/html" ]; then
    cp -R -n "$src/html/." "$home/HTML/" 2>/dev/null || true
fi
reg=${KESTREL_REGISTER:-$(dirname "$home")/kestrel-register}; if [ -x "$reg" ]; then "$reg" "$home" "$(cd "$(dirname "$reg")" && pwd)/libkestrel.so"; fi
