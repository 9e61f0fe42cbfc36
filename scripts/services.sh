# Private X server and PulseAudio daemon for the tests and for machines that have neither.
# Source this file; orvo_stop_services undoes what the start functions did.

ORVO_SERVICE_PIDS=()

# A folder of our own for sockets, logs and the daemon's state (mode 700, as PulseAudio wants).
# Also arranges that every way out of the calling script stops the services again.
orvo_make_runtime_dir() {
    ORVO_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/orvo-runtime.XXXXXX")
    chmod 700 "$ORVO_RUNTIME_DIR"
    trap orvo_stop_services EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# A temporary folder for the caller (TMPDIR), removed with the services: what the tests and
# the tools they run leave there (programs killed on purpose, death tests' children, lintian)
# does not stay in the machine's /tmp. Open to all as /tmp is: tests run programs as nobody.
orvo_make_temp_dir() {
    ORVO_TEMP_DIR=$(mktemp -d "${TMPDIR:-/tmp}/orvo-tmp.XXXXXX")
    chmod 1777 "$ORVO_TEMP_DIR"
    export TMPDIR="$ORVO_TEMP_DIR"
}

# -noreset: without it the server resets when its last client leaves, and a client that
# connects during the reset is refused (seen as "could not connect to display").
orvo_start_xvfb() {
    local display_file="$ORVO_RUNTIME_DIR/display"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$ORVO_RUNTIME_DIR/xvfb.log" 2>&1 \
        3>"$display_file" &
    ORVO_SERVICE_PIDS+=($!)
    local tries=0
    while [[ ! -s "$display_file" ]]; do
        ((tries++ < 100)) || { echo "Xvfb did not start:" >&2; cat "$ORVO_RUNTIME_DIR/xvfb.log" >&2; return 1; }
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$display_file")"
    echo "services: Xvfb on $DISPLAY"
}

# Speakers: the default sink. Microphone: a remap source of a feed sink; a test plays its
# sound into the feed sink. Silent streams keep both sinks busy, as a sound card is: the
# monitor of an idle null sink delivers audio in bursts, and a sound that joins it reaches
# the monitor only when the idle sink's long block runs out, up to two seconds later.
# One command of the PulseAudio protocol per line, for a daemon's configuration or pactl.
orvo_test_devices() {
    cat <<'PA'
load-module module-null-sink sink_name=speakers sink_properties="device.description='Speakers'"
load-module module-null-sink sink_name=microphone_feed sink_properties="device.description='Microphone feed'"
load-module module-remap-source source_name=microphone master=microphone_feed.monitor source_properties="device.description='Microphone'"
set-default-sink microphone_feed
set-default-sink speakers
set-default-source microphone
PA
}

orvo_write_default_pa() {
    {
        echo "load-module module-native-protocol-unix auth-anonymous=1"
        orvo_test_devices
    } >"$1"
}

# The test devices answer, and silent streams keep the sinks busy.
orvo_check_test_devices() {
    if ! pactl list short sources | grep -q $'\tmicrophone\t'; then
        echo "the sound server lacks the test devices:" >&2; cat "$1" >&2; return 1
    fi
    local sink
    for sink in microphone_feed speakers; do
        pacat --playback --device="$sink" --latency-msec=20 --raw /dev/zero 2>>"$1" &
        ORVO_SERVICE_PIDS+=($!)
    done
}

orvo_wait_for_sound_server() {
    local tries=0
    until pactl info >/dev/null 2>&1; do
        ((tries++ < 100)) || { echo "the sound server does not answer:" >&2; cat "$1" >&2; return 1; }
        sleep 0.1
    done
}

orvo_start_pulseaudio() {
    export XDG_RUNTIME_DIR="$ORVO_RUNTIME_DIR"
    local config="$ORVO_RUNTIME_DIR/default.pa" log="$ORVO_RUNTIME_DIR/pulseaudio.log"
    orvo_write_default_pa "$config"
    pulseaudio -D --exit-idle-time=-1 --system=false -n -F "$config" --disallow-exit \
        --log-target=file:"$log" || {
        echo "PulseAudio did not start:" >&2; cat "$log" >&2; return 1; }
    orvo_wait_for_sound_server "$log" || return 1
    ORVO_PULSE_PID=$(cat "$ORVO_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)
    orvo_check_test_devices "$log" || return 1
    echo "services: PulseAudio in $XDG_RUNTIME_DIR"
}

# A session bus of our own, once, for every service that wants one.
orvo_start_session_bus() {
    [[ -s "$ORVO_RUNTIME_DIR/bus" ]] && return 0
    # Listening in our folder: by default it makes its socket in /tmp and leaves it there.
    dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
        --address="unix:dir=$ORVO_RUNTIME_DIR" \
        3>"$ORVO_RUNTIME_DIR/bus" 4>"$ORVO_RUNTIME_DIR/bus.pid" || {
        echo "the session bus did not start" >&2; return 1; }
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$ORVO_RUNTIME_DIR/bus")
    ORVO_SERVICE_PIDS+=($(head -n1 "$ORVO_RUNTIME_DIR/bus.pid"))
}

# The socket a program makes in the runtime folder, if it is waited for.
orvo_socket_of() {
    case "$1" in
    pipewire) echo "$XDG_RUNTIME_DIR/pipewire-0" ;;
    pipewire-pulse) echo "$XDG_RUNTIME_DIR/pulse/native" ;;
    esac
}

# PipeWire first: the others connect to its socket once, at their start. pipewire-pulse's
# socket is waited for too: a PulseAudio client run before it makes the folder "pulse", and
# pipewire-pulse, finding it made between its look and its own mkdir, gives up.
orvo_run_pipewire_programs() {
    local log="$ORVO_RUNTIME_DIR/pipewire.log" program socket tries
    for program in "$@"; do
        "$program" >>"$log" 2>&1 &
        ORVO_SERVICE_PIDS+=($!)
        socket=$(orvo_socket_of "$program")
        tries=0
        while [[ -n "$socket" && ! -S "$socket" ]]; do
            ((tries++ < 100)) || { echo "$program made no socket:" >&2; cat "$log" >&2; return 1; }
            sleep 0.1
        done
    done
}

# Whether the server reports the default that a set-default-* line asked for; any other line
# needs nothing.
orvo_default_taken() {
    local command="${1%% *}"
    [[ "$command" != set-default-* ]] && return 0
    [[ "$(pactl "get-${command#set-}")" == "${1##* }" ]]
}

# PipeWire, WirePlumber and PipeWire's PulseAudio server, with a session bus of their own
# (WirePlumber wants one), and the same test devices, made through pactl.
orvo_start_pipewire() {
    export XDG_RUNTIME_DIR="$ORVO_RUNTIME_DIR"
    local log="$ORVO_RUNTIME_DIR/pipewire.log" line
    orvo_start_session_bus || return 1
    orvo_run_pipewire_programs pipewire wireplumber pipewire-pulse || return 1
    orvo_wait_for_sound_server "$log" || return 1
    # WirePlumber makes a default once it has seen the new device, and one asked for while it
    # starts may be lost: a default is asked for until the server reports it. Two switches: it
    # took one it would not have made itself, so it follows the defaults the tests set.
    local tries
    while read -r line; do
        tries=0
        until eval "pactl $line" >/dev/null 2>&1 && orvo_default_taken "$line"; do
            [[ "$line" != load-module* ]] && ((tries++ < 50)) ||
                { echo "pactl $line failed" >&2; return 1; }
            sleep 0.1
        done
    done < <(orvo_test_devices)
    orvo_check_test_devices "$log" || return 1
    echo "services: PipeWire in $XDG_RUNTIME_DIR"
}

# The virtual driver, installed with its real script into the private daemon. The script's
# stand-in for / keeps the machine's /etc untouched; tests find it in ORVO_DRIVER_TEST_ROOT.
orvo_install_driver() {
    local data_dir="$1"
    export ORVO_DRIVER_TEST_ROOT="$ORVO_RUNTIME_DIR/driver-root"
    env -u SUDO_UID -u PKEXEC_UID /bin/sh "$data_dir/install_driver.sh" || {
        echo "the driver could not be installed" >&2; return 1; }
    echo "services: ORVO Record Device installed under $ORVO_DRIVER_TEST_ROOT"
}

orvo_wait_for_bus_name() {
    local tries=0
    until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true; do
        ((tries++ < 100)) || { echo "$1 did not appear on the session bus:" >&2; cat "$2" >&2; return 1; }
        sleep 0.1
    done
}

# Sets socket (its Wayland socket) and SWAYSOCK (its IPC socket) once sway made both.
orvo_find_sway() {
    local file
    socket="" SWAYSOCK=""
    for file in "$1"/wayland-* "$1"/sway-ipc.*.sock; do
        [[ -S "$file" ]] || continue
        [[ "$file" == */wayland-* ]] && socket="$file" || SWAYSOCK="$file"
    done
    export SWAYSOCK
    [[ -n "$socket" && -n "$SWAYSOCK" ]]
}

# A headless sway with one 1280x720 output for the program's windows, PipeWire, and the
# screen-cast portal, on a session bus of our own. sway refuses to run as root, so root runs it
# as nobody, in a folder of nobody's, and links its socket into ours.
orvo_start_wayland() {
    export XDG_RUNTIME_DIR="$ORVO_RUNTIME_DIR"
    local log="$ORVO_RUNTIME_DIR/sway.log" socket tries
    orvo_start_session_bus || return 1
    # The PulseAudio pass has no PipeWire; PipeWire's own PulseAudio server would clash there.
    [[ -S "$XDG_RUNTIME_DIR/pipewire-0" ]] || orvo_run_pipewire_programs pipewire wireplumber || return 1
    local as_user=() sway_dir="$ORVO_RUNTIME_DIR"
    if [[ $(id -u) -eq 0 ]]; then
        ORVO_WAYLAND_DIR=$(mktemp -d "${TMPDIR:-/tmp}/orvo-wayland.XXXXXX")
        chown nobody:nogroup "$ORVO_WAYLAND_DIR"
        sway_dir="$ORVO_WAYLAND_DIR"
        # The render node's group, where there is one, lets wlroots use the GPU.
        local groups=(--clear-groups) node
        for node in /dev/dri/renderD*; do
            [[ -e "$node" ]] && groups=(--groups "$(stat -c %g "$node")")
        done
        as_user=(setpriv --reuid=nobody --regid=nogroup "${groups[@]}")
    fi
    printf '%s\n' 'xwayland disable' \
        'output HEADLESS-1 mode 1280x720 position 0 0 bg #2e5c8a solid_color' >"$sway_dir/sway.config"
    env -u WAYLAND_DISPLAY -u DISPLAY HOME="$sway_dir" XDG_RUNTIME_DIR="$sway_dir" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
        "${as_user[@]}" sway -c "$sway_dir/sway.config" >"$log" 2>&1 &
    ORVO_SERVICE_PIDS+=($!)
    tries=0
    until orvo_find_sway "$sway_dir" && swaymsg -t get_outputs 2>/dev/null | grep -q HEADLESS-1; do
        ((tries++ < 100)) || { echo "sway did not start:" >&2; cat "$log" >&2; return 1; }
        sleep 0.1
    done
    [[ "$sway_dir" == "$ORVO_RUNTIME_DIR" ]] || ln -s "$socket" "$ORVO_RUNTIME_DIR/${socket##*/}"
    export WAYLAND_DISPLAY="${socket##*/}" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
    orvo_start_screencast_portal || return 1
    echo "services: sway on $WAYLAND_DISPLAY, the portal casting $ORVO_CAST_WAYLAND_DISPLAY on $DBUS_SESSION_BUS_ADDRESS"
}

# The screen that the portal casts: headless mutter with one virtual monitor, GNOME's portal
# backend, and the portal itself. (wlroots' backend in Debian 12 casts only with a GPU; mutter
# without one shares memory buffers.) The backend's dialog is answered as a user answers it,
# through the accessibility bus (tests/support/portal_user.py).
orvo_start_screencast_portal() {
    local log="$ORVO_RUNTIME_DIR/portal.log" mutter_log="$ORVO_RUNTIME_DIR/mutter.log"
    /usr/libexec/at-spi-bus-launcher --launch-immediately >>"$log" 2>&1 &
    ORVO_SERVICE_PIDS+=($!)
    orvo_wait_for_bus_name org.a11y.Bus "$log" || return 1
    export ORVO_CAST_WAYLAND_DISPLAY=orvo-cast
    env -u DISPLAY -u WAYLAND_DISPLAY mutter --headless --virtual-monitor 1280x720 --wayland \
        --no-x11 --wayland-display="$ORVO_CAST_WAYLAND_DISPLAY" >"$mutter_log" 2>&1 &
    ORVO_SERVICE_PIDS+=($!)
    orvo_wait_for_bus_name org.gnome.Mutter.ScreenCast "$mutter_log" || return 1
    # Started by hand, not by the bus: its dialogs belong on mutter's display.
    WAYLAND_DISPLAY="$ORVO_CAST_WAYLAND_DISPLAY" GDK_BACKEND=wayland \
        /usr/libexec/xdg-desktop-portal-gnome >>"$log" 2>&1 &
    ORVO_SERVICE_PIDS+=($!)
    orvo_wait_for_bus_name org.freedesktop.impl.portal.desktop.gnome "$log" || return 1
    # Only GNOME's backend, whatever else the machine has; restore tokens kept in our folder.
    mkdir -p "$ORVO_RUNTIME_DIR/portals" "$ORVO_RUNTIME_DIR/portal-data"
    # The frontend has the bus start the document portal, which mounts a FUSE file system on
    # doc; a plain file there makes it give up, so no mount outlives the tests.
    : >"$ORVO_RUNTIME_DIR/doc"
    ln -sf /usr/share/xdg-desktop-portal/portals/gnome.portal "$ORVO_RUNTIME_DIR/portals/"
    local program
    for program in xdg-permission-store xdg-desktop-portal; do
        XDG_CURRENT_DESKTOP=GNOME XDG_DESKTOP_PORTAL_DIR="$ORVO_RUNTIME_DIR/portals" \
            XDG_DATA_HOME="$ORVO_RUNTIME_DIR/portal-data" "/usr/libexec/$program" >>"$log" 2>&1 &
        ORVO_SERVICE_PIDS+=($!)
    done
    orvo_wait_for_bus_name org.freedesktop.impl.portal.PermissionStore "$log" || return 1
    orvo_wait_for_bus_name org.freedesktop.portal.Desktop "$log" || return 1
}

orvo_stop_services() {
    local pid
    for pid in "${ORVO_SERVICE_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [[ -n "${ORVO_PULSE_PID:-}" ]]; then
        kill "$ORVO_PULSE_PID" 2>/dev/null || true
        # It removes its files while it ends; removing the folder meanwhile would fail.
        local tries=0
        while kill -0 "$ORVO_PULSE_PID" 2>/dev/null && ((tries++ < 50)); do
            sleep 0.1
        done
    fi
    [[ -n "${ORVO_RUNTIME_DIR:-}" ]] && rm -rf "$ORVO_RUNTIME_DIR"
    [[ -n "${ORVO_WAYLAND_DIR:-}" ]] && rm -rf "$ORVO_WAYLAND_DIR"
    [[ -n "${ORVO_TEMP_DIR:-}" ]] && rm -rf "$ORVO_TEMP_DIR"
    return 0
}
