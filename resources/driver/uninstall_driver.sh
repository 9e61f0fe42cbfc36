#!/bin/sh
# Removes what install_driver.sh installed: first the installed-driver directory, so that the
# program never takes a half-removed driver for an installed one, then the devices from the
# running sound server of the user who asked (and a recording's combined output that still
# plays into them), then the drop-ins. Runs as root; running it again changes nothing.
set -eu

script_name=uninstall_driver.sh
here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
. "$here/driver_common.sh"

check_sources

rm -rf "$driver_dir" || fail "cannot remove $driver_dir"
if [ -d "$driver_parent" ]; then
    rmdir --ignore-fail-on-non-empty "$driver_parent" || fail "cannot remove $driver_parent"
fi

if server_running; then
    dropin_devices >/dev/null
    # Unloaded in the reverse order of loading: a device goes before the one it builds on,
    # and first of all a combined output left over from a recording.
    modules=''
    for entry in $(dropin_devices | awk '$1 == "sink" { print $2 }'); do
        combined=$(combine_modules_using "$entry")
        for index in $combined; do
            user_pactl unload-module "$index" ||
                fail "the sound server did not unload module $index"
        done
    done
    for entry in $(dropin_devices | awk '{ print $1 ":" $2 }'); do
        index=$(module_of "${entry%%:*}" "${entry#*:}")
        [ -z "$index" ] || modules="$index $modules"
    done
    for index in $modules; do
        user_pactl unload-module "$index" || fail "the sound server did not unload module $index"
    done
    for entry in $(dropin_devices | awk '{ print $1 ":" $2 }'); do
        ! device_exists "${entry%%:*}" "${entry#*:}" || fail "the ${entry%%:*} ${entry#*:} is still there"
    done
else
    echo "$script_name: no sound server of user $target_uid runs; nothing to unload"
fi

rm -f "$pulse_dropin_dir/$dropin.pa" "$pipewire_dropin_dir/$dropin.conf" ||
    fail "cannot remove the drop-ins"
