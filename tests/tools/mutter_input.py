#!/usr/bin/python3
"""Keyboard and pointer input for tests on a headless Mutter, through Mutter's own remote desktop
interface (org.gnome.Mutter.RemoteDesktop on the session bus Mutter runs on; no dialog, no
portal). The seat of a headless Mutter has no keyboard and no pointer until a remote desktop
session sends an event, and loses them again when the session's bus connection closes: keep one
such program running for the whole test session.

Usage: /usr/bin/python3 tests/tools/mutter_input.py [COMMAND ...]
Commands (arguments, or lines on stdin):
    press CODE / release CODE / tap CODE   a key by evdev code (42 = Left Shift, 110 = Insert)
    click X Y                              the pointer to (X, Y) of the screen, the left button
                                           pressed and released there
    hold                                   keep the session until the bus or a signal ends it
With commands as arguments, it runs them and exits. Without, it prints "ready" once the session
has started and a first key event has given the seat its keyboard, then reads commands from stdin
and answers each with "ok" after Mutter has taken it (each call is a bus round trip).

Absolute pointer positions need a screen cast stream (PipeWire) in this interface; relative
motion does not, and Mutter moves a virtual pointer by exactly what it is told, clamped to the
screens: a click first moves far to the top left, then by (X, Y).
"""

import signal
import sys

from gi.repository import Gio, GLib

BUS_NAME = "org.gnome.Mutter.RemoteDesktop"
SESSION_INTERFACE = "org.gnome.Mutter.RemoteDesktop.Session"
LEFT_BUTTON = 0x110  # BTN_LEFT
# A key with no effect on applications, to give the seat its keyboard (F24).
NEUTRAL_KEY = 194


class Session:
    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        (path,) = self.bus.call_sync(BUS_NAME, "/org/gnome/Mutter/RemoteDesktop", BUS_NAME,
                                     "CreateSession", None, GLib.VariantType("(o)"),
                                     Gio.DBusCallFlags.NONE, 5000, None).unpack()
        self.path = path
        self.call("Start")
        self.key(NEUTRAL_KEY, True)
        self.key(NEUTRAL_KEY, False)

    def call(self, method, signature=None, *args):
        parameters = GLib.Variant("(" + signature + ")", args) if signature else None
        self.bus.call_sync(BUS_NAME, self.path, SESSION_INTERFACE, method, parameters, None,
                           Gio.DBusCallFlags.NONE, 5000, None)

    def key(self, code, down):
        self.call("NotifyKeyboardKeycode", "ub", code, down)

    def click(self, x, y):
        self.call("NotifyPointerMotionRelative", "dd", -100000.0, -100000.0)
        self.call("NotifyPointerMotionRelative", "dd", float(x), float(y))
        self.call("NotifyPointerButton", "ib", LEFT_BUTTON, True)
        self.call("NotifyPointerButton", "ib", LEFT_BUTTON, False)


def run(session, words):
    name = words[0]
    if name in ("press", "release", "tap"):
        code = int(words[1])
        if name != "release":
            session.key(code, True)
        if name != "press":
            session.key(code, False)
    elif name == "click":
        session.click(int(words[1]), int(words[2]))
    elif name == "hold":
        loop = GLib.MainLoop()
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, loop.quit)
        session.bus.connect("closed", lambda *_args: loop.quit())
        print("ready", flush=True)
        loop.run()
    else:
        raise ValueError("unknown command: " + " ".join(words))


def main():
    session = Session()
    if len(sys.argv) > 1:
        commands = [argument.split(":") for argument in sys.argv[1:]]
        for words in commands:
            run(session, words)
        return 0
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if words:
            run(session, words)
            print("ok", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
