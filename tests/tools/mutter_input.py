#!/usr/bin/python3
"""Gives the seat of a headless Mutter its keyboard for a whole test session, through Mutter's own
remote desktop interface (org.gnome.Mutter.RemoteDesktop on the session bus Mutter runs on; no
dialog, no portal). The seat has no keyboard until a remote desktop session sends an event, and
loses it again when the session's bus connection closes.

Usage: /usr/bin/python3 tests/tools/mutter_input.py hold
Prints "ready" once the session has started and a first key event has given the seat its
keyboard, then keeps the session until the bus or a signal ends it.
"""

import signal
import sys

from gi.repository import Gio, GLib

BUS_NAME = "org.gnome.Mutter.RemoteDesktop"
SESSION_INTERFACE = "org.gnome.Mutter.RemoteDesktop.Session"
# A key with no effect on applications, to give the seat its keyboard (F24).
NEUTRAL_KEY = 194


def main():
    if sys.argv[1:] != ["hold"]:
        sys.exit(__doc__)
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    (path,) = bus.call_sync(BUS_NAME, "/org/gnome/Mutter/RemoteDesktop", BUS_NAME, "CreateSession",
                            None, GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000,
                            None).unpack()

    def call(method, parameters=None):
        bus.call_sync(BUS_NAME, path, SESSION_INTERFACE, method, parameters, None,
                      Gio.DBusCallFlags.NONE, 5000, None)

    call("Start")
    for down in (True, False):
        call("NotifyKeyboardKeycode", GLib.Variant("(ub)", (NEUTRAL_KEY, down)))
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, loop.quit)
    bus.connect("closed", lambda *_args: loop.quit())
    print("ready", flush=True)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
