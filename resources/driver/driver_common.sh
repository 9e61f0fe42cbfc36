# Shared by install_driver.sh and uninstall_driver.sh; sourced, never run.
# ORVO_DRIVER_TEST_ROOT: for tests only, a folder that stands in for / so that a test never
# writes into the machine's /etc and /var. Only a script running with its caller's own
# rights honours it: with rights raised by pkexec or sudo, the caller's environment must not
# direct where root writes.

if [ -n "${PKEXEC_UID:-}${SUDO_UID:-}" ]; then
    test_root=''
else
    test_root=${ORVO_DRIVER_TEST_ROOT:-}
fi
dropin=orvo-record-device
pulse_dropin_dir="$test_root/etc/pulse/default.pa.d"
pipewire_dropin_dir="$test_root/etc/pipewire/pipewire-pulse.conf.d"
driver_parent="$test_root/var/lib/orvo-call-recorder"
driver_dir="$driver_parent/ORVO Record Device.driver"
pulse_dropin_source="$here/$dropin.pa"
pipewire_dropin_source="$here/$dropin.conf"

fail() {
    echo "$script_name: $*" >&2
    exit 1
}

# The user who asked: pkexec and sudo name them; otherwise the caller itself.
target_uid=${PKEXEC_UID:-${SUDO_UID:-$(id -u)}}

# pactl talking to the sound server of that user.
user_pactl() {
    if [ "$target_uid" = "$(id -u)" ]; then
        pactl "$@"
    else
        entry=$(getent passwd "$target_uid") || return 1
        user_name=$(printf '%s\n' "$entry" | cut -d: -f1)
        user_home=$(printf '%s\n' "$entry" | cut -d: -f6)
        runuser -u "$user_name" -- env HOME="$user_home" \
            XDG_RUNTIME_DIR="/run/user/$target_uid" pactl "$@"
    fi
}

server_running() {
    command -v pactl >/dev/null 2>&1 && user_pactl info >/dev/null 2>&1
}

# device_exists sink|source NAME
device_exists() {
    listing=$(user_pactl list short "$1s") || fail "cannot list the ${1}s of the sound server"
    printf '%s\n' "$listing" | cut -f2 | grep -qx -- "$2"
}

# module_of sink|source NAME: the index of the module that made the device, if any.
module_of() {
    listing=$(user_pactl list short modules) || fail "cannot list the modules of the sound server"
    printf '%s\n' "$listing" |
        awk -v want="$1_name=$2" '{ for (i = 3; i <= NF; i++) if ($i == want) { print $1; exit } }'
}

# combine_modules_using NAME: the combined outputs that play into the sink NAME (a
# recording's "ORVO Multi Device" left behind by a program that was killed).
combine_modules_using() {
    listing=$(user_pactl list short modules) || fail "cannot list the modules of the sound server"
    printf '%s\n' "$listing" | awk -v sink="$1" '$2 == "module-combine-sink" {
        for (i = 3; i <= NF; i++) if ($i ~ /^slaves=/) {
            n = split(substr($i, 8), slaves, ",")
            for (j = 1; j <= n; j++) if (slaves[j] == sink) { print $1; next }
        }
    }'
}

# The devices of the PulseAudio drop-in, one "kind name module arguments" line each, in the
# order the drop-in makes them.
dropin_devices() {
    while read -r word module arguments; do
        [ "$word" = load-module ] || continue
        first=${arguments%% *}
        kind=${first%%_name=*}
        name=${first#*_name=}
        case "$kind" in
        sink | source) ;;
        *) fail "$pulse_dropin_source: arguments must begin with sink_name= or source_name=" ;;
        esac
        printf '%s %s %s %s\n' "$kind" "$name" "$module" "$arguments"
    done <"$pulse_dropin_source"
}

check_sources() {
    [ -r "$pulse_dropin_source" ] || fail "missing $pulse_dropin_source"
    [ -r "$pipewire_dropin_source" ] || fail "missing $pipewire_dropin_source"
    [ -n "$test_root" ] || [ "$(id -u)" = 0 ] || fail "needs administrator rights"
}
