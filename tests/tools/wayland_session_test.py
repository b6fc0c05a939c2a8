#!/usr/bin/python3
"""Checks the pieces the Wayland tests stand on, inside scripts/wayland-session (label "wayland"):
the GTK field on Wayland receives text typed by wtype, and a sway `bindcode 108` binding fires on
press and on release of evdev code 100 from tests/tools/virtual_keyboard.py. Exit status 0 when
both hold; each failure is printed. Outside scripts/wayland-session it skips itself (status 77):
it must not add key bindings to a real sway session."""

import os
import subprocess
import sys
import tempfile
import time

TOOLS = os.path.dirname(os.path.abspath(__file__))


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def gtk_field_receives_typed_text():
    text = "typed 你好 😀"
    with tempfile.TemporaryFile("w+") as output:
        field = subprocess.Popen([sys.executable, os.path.join(TOOLS, "gtk_text_field.py")],
                                 stdout=output, env=dict(os.environ, GDK_BACKEND="wayland"))
        try:
            def lines():
                output.seek(0)
                return output.read().splitlines()

            if not wait_until(lambda: "ready" in lines()):
                return "the GTK field did not take the focus: %s" % lines()
            subprocess.run(["wtype", text], check=True)
            want = "text " + text.encode().hex()
            if not wait_until(lambda: want in lines()):
                return "the GTK field holds %s, not %r" % (lines()[-1:], text)
            return None
        finally:
            field.terminate()
            field.wait()


def bindcode_fires_from_virtual_keyboard():
    folder = tempfile.mkdtemp()
    pressed, released = os.path.join(folder, "pressed"), os.path.join(folder, "released")
    for command in ("bindcode --no-repeat 108 exec touch %s" % pressed,
                    "bindcode --release 108 exec touch %s" % released):
        subprocess.run(["swaymsg", command], check=True, stdout=subprocess.DEVNULL)
    try:
        keyboard = subprocess.Popen([sys.executable, os.path.join(TOOLS, "virtual_keyboard.py")],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if keyboard.stdout.readline().strip() != "ready":
            return "the virtual keyboard did not start"
        keyboard.stdin.write("press 100\n")
        keyboard.stdin.flush()
        keyboard.stdout.readline()
        if not wait_until(lambda: os.path.exists(pressed)):
            return "bindcode 108 did not fire on the press of code 100"
        if os.path.exists(released):
            return "the release binding fired on the press"
        keyboard.stdin.write("release 100\n")
        keyboard.stdin.flush()
        keyboard.stdout.readline()
        if not wait_until(lambda: os.path.exists(released)):
            return "bindcode --release 108 did not fire on the release of code 100"
        keyboard.stdin.close()
        keyboard.wait()
        return None
    finally:
        subprocess.run(["swaymsg", "unbindcode 108"], stdout=subprocess.DEVNULL)
        subprocess.run(["swaymsg", "unbindcode --release 108"], stdout=subprocess.DEVNULL)


def main():
    if not os.environ.get("SAYLOFT_WAYLAND_SESSION"):
        print("skipped: run inside scripts/wayland-session")
        return 77
    failures = [f for f in (gtk_field_receives_typed_text(), bindcode_fires_from_virtual_keyboard()) if f]
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
