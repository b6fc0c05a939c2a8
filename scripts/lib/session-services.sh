# shellcheck shell=bash disable=SC2034,SC2154
# Shared by scripts/desktop-session and scripts/wayland-session (sourced, not run): waiting with a
# bound, the private D-Bus buses and the private PulseAudio daemon with the virtual microphone.
# The caller sets $session (a private folder for sockets, configurations and logs), keeps the pids
# of what it starts in the array pids (to end them at teardown) and names itself in $me.

# Waits up to $2 seconds for the shell test $1 to succeed (polling: the services give no signal).
wait_for() {
    local what=$1 seconds=$2 i
    for ((i = 0; i < seconds * 20; i++)); do
        if eval "$what" >/dev/null 2>&1; then return 0; fi
        sleep 0.05
    done
    return 1
}

# Prints the file $1 to stderr under a heading, for the reader of a failed start.
show_log() {
    echo "$me: --- $1 ---" >&2
    cat "$1" >&2 2>/dev/null || echo "(no log)" >&2
}

# Starts a private bus named $1 listening in $session and sets bus_address (not a subshell: its
# pid must reach pids). The configuration has no <servicedir> and no standard service folders:
# with them, a D-Bus-activatable daemon installed on the machine (a notification daemon such as
# dunst) would be started by the bus and replace the test's mock. Both buses are of the session
# type: the "system" one only stands in for the system bus, and needs none of its policy.
start_private_bus() {
    local name=$1
    cat >"$session/$name-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$session/$name-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$session/$name-bus.conf" --nofork --print-address=3 \
        3>"$session/$name-bus.address" >"$session/$name-bus.log" 2>&1 &
    pids+=($!)
    if ! wait_for "test -s '$session/$name-bus.address'" 10; then
        echo "$me: the private $name bus did not start" >&2
        show_log "$session/$name-bus.log"
        exit 1
    fi
    bus_address=$(head -n 1 "$session/$name-bus.address")
}

# Starts a private PulseAudio daemon whose default source is the monitor of a null sink named
# "sayloft_mic": whatever a test plays into that sink is what the microphone hears. norewinds=1:
# without it the monitor loses about the first second of each paplay.
start_private_pulseaudio() {
    export PULSE_SERVER="unix:$session/pulse-native"
    export PULSE_RUNTIME_PATH="$session/pulse-runtime"
    export PULSE_STATE_PATH="$session/pulse-state"
    export PULSE_COOKIE="$session/pulse-cookie"
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=yes -n \
        --load="module-native-protocol-unix socket=$session/pulse-native auth-anonymous=1" \
        --load="module-null-sink sink_name=sayloft_mic rate=48000 channels=2 norewinds=1" \
        --load="module-always-sink" \
        >"$session/pulseaudio.log" 2>&1 &
    pids+=($!)
    if ! wait_for "pactl info" 15; then
        echo "$me: PulseAudio did not start" >&2
        show_log "$session/pulseaudio.log"
        exit 1
    fi
    pactl set-default-sink sayloft_mic
    pactl set-default-source sayloft_mic.monitor
}

# libdbus aborts its clients when the machine has no id (minimal containers); makes one if it may.
ensure_machine_id() {
    [[ -s /etc/machine-id || -s /var/lib/dbus/machine-id ]] && return 0
    if [[ -w /var/lib/dbus || -w /var/lib ]]; then
        mkdir -p /var/lib/dbus && dbus-uuidgen --ensure=/var/lib/dbus/machine-id
    else
        echo "$me: this machine has no D-Bus machine id; run 'sudo dbus-uuidgen --ensure'" >&2
        exit 1
    fi
}
