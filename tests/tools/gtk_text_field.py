#!/usr/bin/python3
"""A GTK 3 text field for tests: the receiving application of typing and paste, like the Qt field
that sayloft_linux_x11_tests starts with --text-field, and speaking the same protocol on stdout:

    ready            once, when the field has the keyboard focus
    text <hex>       after each change, the whole text as UTF-8 in hexadecimal (unambiguous for
                     any text: CJK, emoji, new lines)
    click            at each press of a mouse button on the field

Usage: /usr/bin/python3 tests/tools/gtk_text_field.py [--app-id ID]
  --app-id       the program name, which is the Wayland app_id and the window's title
The backend follows GDK_BACKEND (x11 or wayland). Run it with Debian's /usr/bin/python3: the
GObject bindings (python3-gi, gir1.2-gtk-3.0) are Debian modules. Ends on SIGTERM or SIGINT.
"""

import argparse
import os
import signal
import sys

# No accessibility bus in a test session: without this GTK warns that it found none.
os.environ.setdefault("NO_AT_BRIDGE", "1")

import gi  # noqa: E402

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description="A GTK text field for tests")
    parser.add_argument("--app-id", default="Sayloft GTK text field")
    options = parser.parse_args()

    GLib.set_prgname(options.app_id)
    window = Gtk.Window(title=options.app_id)
    window.set_default_size(600, 40)
    window.connect("destroy", Gtk.main_quit)

    field = Gtk.Entry()
    field.connect("changed", lambda entry: say("text " + entry.get_text().encode().hex()))
    field.connect("button-press-event", lambda *_args: say("click") or False)
    window.add(field)

    ready = False

    def check_ready(*_args):
        nonlocal ready
        if not ready and window.is_active() and field.has_focus():
            ready = True
            say("ready")
        return False

    field.connect("focus-in-event", check_ready)
    window.connect("notify::is-active", check_ready)

    def on_map(*_args):
        field.grab_focus()
        # Without a window manager (a bare X server) nobody hands out the focus: take it.
        # Under a compositor or window manager this is only a request.
        window.get_window().focus(Gdk.CURRENT_TIME)
        return False

    window.connect("map-event", on_map)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, Gtk.main_quit)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, Gtk.main_quit)
    window.show_all()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
