#!/bin/sh
# Installs the virtual audio device "ORVO Record Device": configuration drop-ins for
# PulseAudio and PipeWire-pulse, the same devices loaded into the running sound server of the
# user who asked (no restart needed), and last the installed-driver directory that the
# program looks for. Runs as root; running it again changes nothing.
set -eu

script_name=install_driver.sh
here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
. "$here/driver_common.sh"

check_sources

# place_file SOURCE DIRECTORY: written whole or not at all.
place_file() {
    mkdir -p "$2" || fail "cannot create $2"
    partial="$2/.$(basename "$1").partial"
    cp "$1" "$partial" || fail "cannot write $partial"
    chmod 644 "$partial" || fail "cannot set the mode of $partial"
    mv -f "$partial" "$2/$(basename "$1")" || fail "cannot write $2/$(basename "$1")"
}

place_file "$pulse_dropin_source" "$pulse_dropin_dir"
place_file "$pipewire_dropin_source" "$pipewire_dropin_dir"

if server_running; then
    dropin_devices >/dev/null
    dropin_devices | while read -r kind name module arguments; do
        if ! device_exists "$kind" "$name"; then
            user_pactl load-module "$module" "$arguments" >/dev/null ||
                fail "the sound server refused $module for $name"
        fi
    done
    dropin_devices | while read -r kind name module arguments; do
        device_exists "$kind" "$name" || fail "the $kind $name did not appear"
    done
else
    echo "$script_name: no sound server of user $target_uid runs; the device appears when it starts"
fi

mkdir -p "$driver_dir" || fail "cannot create $driver_dir"
printf 'ORVO Record Device\n' >"$driver_dir/Info" || fail "cannot write $driver_dir/Info"
