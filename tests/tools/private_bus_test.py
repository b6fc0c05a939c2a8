#!/usr/bin/python3
"""Checks that the private buses of the test sessions (scripts/lib/session-services.sh) are
hermetic: a D-Bus-activatable notification daemon installed on the machine must not be started by
them in place of a test's mock. The installed daemon is a service file in the data folders a bus
would search. The private bus must list no such activatable name; the control, the same
configuration with the standard service folders added, must list it. Exit status 0 when both hold."""

import os
import pathlib
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
NAME = "org.freedesktop.Notifications"


def activatable(address, env):
    reply = subprocess.run(
        ["dbus-send", f"--bus={address}", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.ListActivatableNames"],
        check=True, env=env, capture_output=True, text=True).stdout
    return NAME in reply


def start(config, env):
    bus = subprocess.Popen(["dbus-daemon", f"--config-file={config}", "--nofork",
                            "--print-address"], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    return bus, bus.stdout.readline().strip()


def main():
    with tempfile.TemporaryDirectory() as data, tempfile.TemporaryDirectory() as session:
        services = pathlib.Path(data, "dbus-1", "services")
        services.mkdir(parents=True)
        (services / f"{NAME}.service").write_text(f"[D-BUS Service]\nName={NAME}\nExec=/bin/true\n")
        env = dict(os.environ, XDG_DATA_HOME=data, XDG_DATA_DIRS=data)
        # The sessions' own function writes the configuration; its bus is ended at once.
        subprocess.run(["bash", "-c", f"""set -e; me=private-bus-test session='{session}' pids=()
            source '{ROOT}/scripts/lib/session-services.sh'; start_private_bus test
            kill "${{pids[0]}}"; wait "${{pids[0]}}" || true"""], check=True, env=env)
        private = pathlib.Path(session, "test-bus.conf").read_text()
        control = private.replace("<type>session</type>",
                                  "<type>session</type><standard_session_servicedirs/>")
        pathlib.Path(session, "control-bus.conf").write_text(control)
        failures = []
        for config, want in (("test-bus.conf", False), ("control-bus.conf", True)):
            bus, address = start(pathlib.Path(session, config), env)
            try:
                if activatable(address, env) != want:
                    failures.append(f"{config}: {NAME} activatable is {not want}, want {want}")
            finally:
                bus.terminate()
                bus.wait()
        for failure in failures:
            print(failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
