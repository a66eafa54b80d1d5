#!/usr/bin/env bash
# The service's unit as systemd judges it, without installing anything: systemd-analyze verify in a
# root of its own (systemd's units, the unit, queno_log and kill where the unit names them) must say
# nothing, and the offline security rating must be 2.5 or better.
# Usage: check-service-unit.sh UNIT_FILE QUENO_LOG WORK_DIR
set -euo pipefail
unit=$1 program=$2 work=$3
command -v systemd-analyze > /dev/null || { echo "systemd-analyze is missing (Debian's systemd package)"; exit 1; }
root=$work/unit-root
rm -rf "$root"
mkdir -p "$root/lib/systemd" "$root/etc/systemd/system" "$root/usr/bin" "$root/bin"
cp -r /lib/systemd/system "$root/lib/systemd/"
cp "$unit" "$root/etc/systemd/system/"
cp "$program" "$root/usr/bin/queno_log"
cp "$(type -P kill)" "$root/bin/kill"
said=$(systemd-analyze verify --root="$root" --man=no queno-log@furnace.service 2>&1) || { echo "$said"; exit 1; }
if [ -n "$said" ]; then echo "systemd-analyze verify: $said"; exit 1; fi
cp "$unit" "$work/queno-log@furnace.service"
systemd-analyze security --offline=true --threshold=25 "$work/queno-log@furnace.service" | tail -n 1
