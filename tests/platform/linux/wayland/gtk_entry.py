# A GTK 3 entry for the Wayland tests: writes its text to OUT on every change and creates READY
# once it has the keyboard focus. Usage: gtk_entry.py APP_ID OUT READY
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

app_id, out, ready = sys.argv[1:4]
GLib.set_prgname(app_id)
window = Gtk.Window(title=app_id)
entry = Gtk.Entry()
window.add(entry)


def changed(field):
    with open(out + ".tmp", "w", encoding="utf-8") as f:
        f.write(field.get_text())
    os.replace(out + ".tmp", out)


def focused(*_):
    open(ready, "w").close()
    return False


entry.connect("changed", changed)
window.connect("focus-in-event", focused)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
