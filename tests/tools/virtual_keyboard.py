#!/usr/bin/python3
"""A virtual keyboard (zwp_virtual_keyboard_v1, the US layout, rules evdev) and pointer for tests on
a Wayland compositor such as sway. Keys are pressed BY EVDEV CODE, so that a compositor binding on
a code fires (sway's `bindcode 108` is Right Alt: evdev code 100, plus 8 in X/xkb numbering).

Usage: /usr/bin/python3 tests/tools/virtual_keyboard.py [hold]
With `hold` it keeps the keyboard until the compositor ends or a signal: the seat of a headless
compositor has no keyboard, and no window the keyboard focus, until one exists. Without, it prints
"ready", then reads commands on stdin and answers each with "ok" once the compositor has
processed it (a fresh keyboard may lose its first key in clients: keep one for a whole test):
    press CODE, release CODE, tap CODE   key down, up, or both
    click X Y WIDTH HEIGHT               the left button at (X, Y) of a WIDTH x HEIGHT layout, by
                                         a virtual pointer (zwlr_virtual_pointer_manager_v1)
Needs WAYLAND_DISPLAY (and XDG_RUNTIME_DIR) and libxkbcommon. Written against the Wayland wire
format (Debian 12 has no Python Wayland bindings): 32-bit words, a header of the object id and
(size << 16 | opcode).
"""

import array
import ctypes
import ctypes.util
import os
import socket
import struct
import sys
import tempfile
import time

WL_DISPLAY = 1


def us_keymap():
    """The keymap as xkbcommon writes it (text format v1), NUL-terminated."""
    lib = ctypes.CDLL(ctypes.util.find_library("xkbcommon") or "libxkbcommon.so.0")

    class RuleNames(ctypes.Structure):
        _fields_ = [(name, ctypes.c_char_p) for name in ("rules", "model", "layout", "variant", "options")]

    lib.xkb_context_new.restype = ctypes.c_void_p
    lib.xkb_keymap_new_from_names.restype = ctypes.c_void_p
    lib.xkb_keymap_new_from_names.argtypes = [ctypes.c_void_p, ctypes.POINTER(RuleNames), ctypes.c_int]
    lib.xkb_keymap_get_as_string.restype = ctypes.c_void_p
    lib.xkb_keymap_get_as_string.argtypes = [ctypes.c_void_p, ctypes.c_int]
    names = RuleNames(b"evdev", b"pc105", b"us", b"", b"")
    keymap = lib.xkb_keymap_new_from_names(lib.xkb_context_new(0), ctypes.byref(names), 0)
    if not keymap:
        raise RuntimeError("xkbcommon could not compile the US keymap (is xkb-data installed?)")
    return ctypes.string_at(lib.xkb_keymap_get_as_string(keymap, 1)) + b"\0"


class VirtualKeyboard:
    def __init__(self):
        name = os.environ.get("WAYLAND_DISPLAY", "wayland-0")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(name if name.startswith("/") else os.path.join(os.environ["XDG_RUNTIME_DIR"], name))
        self.next_id, self.pending, self.globals, self.done = 2, b"", {}, set()
        self.registry = self.new_id()
        self.send(WL_DISPLAY, 1, struct.pack("<I", self.registry))  # get_registry
        self.roundtrip()
        self.seat = self.bind("wl_seat")
        manager = self.bind("zwp_virtual_keyboard_manager_v1")
        self.keyboard = self.new_id()
        self.send(manager, 0, struct.pack("<II", self.seat, self.keyboard))  # create_virtual_keyboard
        keymap = us_keymap()
        with tempfile.TemporaryFile() as file:
            file.write(keymap)
            file.flush()
            # keymap(format = XKB_V1, fd, size)
            self.send(self.keyboard, 0, struct.pack("<II", 1, len(keymap)), [file.fileno()])
            self.roundtrip()
        self.start = time.monotonic()
        self.pointer = None

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b"", fds=()):
        message = struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload
        self.sock.sendmsg([message], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", fds))] if fds else [])

    def read_events(self):
        data = self.sock.recv(65536)
        if not data:
            raise RuntimeError("the compositor closed the connection")
        self.pending += data
        while len(self.pending) >= 8:
            obj, word = struct.unpack_from("<II", self.pending)
            size, opcode = word >> 16, word & 0xFFFF
            if len(self.pending) < size:
                break
            body, self.pending = self.pending[8:size], self.pending[size:]
            if obj == WL_DISPLAY and opcode == 0:  # error(object, code, message)
                failed, code, length = struct.unpack_from("<III", body)
                raise RuntimeError("Wayland error on object %d, code %d: %s"
                                   % (failed, code, body[12:12 + length - 1].decode(errors="replace")))
            if obj == self.registry and opcode == 0:  # global(name, interface, version)
                name, length = struct.unpack_from("<II", body)
                (version,) = struct.unpack_from("<I", body, 8 + length + (-length % 4))
                self.globals.setdefault(body[8:8 + length - 1].decode(), (name, version))
            elif opcode == 0:  # wl_callback.done among others: only callbacks are waited for
                self.done.add(obj)

    def roundtrip(self):
        callback = self.new_id()
        self.send(WL_DISPLAY, 0, struct.pack("<I", callback))  # wl_display.sync
        while callback not in self.done:
            self.read_events()

    def bind(self, interface):
        if interface not in self.globals:
            raise RuntimeError("the compositor offers no %s" % interface)
        name, _ = self.globals[interface]
        obj = self.new_id()
        data = interface.encode() + b"\0"
        self.send(self.registry, 0, struct.pack("<I", name) + struct.pack("<I", len(data)) + data
                  + b"\0" * (-len(data) % 4) + struct.pack("<II", 1, obj))
        return obj

    def millis(self):
        return int((time.monotonic() - self.start) * 1000) & 0xFFFFFFFF

    def key(self, code, pressed):
        self.send(self.keyboard, 1, struct.pack("<III", self.millis(), code, int(pressed)))

    def click(self, x, y, width, height):
        if self.pointer is None:
            manager = self.bind("zwlr_virtual_pointer_manager_v1")
            self.pointer = self.new_id()
            self.send(manager, 0, struct.pack("<II", self.seat, self.pointer))  # create_virtual_pointer
        # motion_absolute(time, x, y, x_extent, y_extent), then button(time, BTN_LEFT, state);
        # each followed by frame.
        self.send(self.pointer, 1, struct.pack("<IIIII", self.millis(), x, y, width, height))
        self.send(self.pointer, 4)
        for state in (1, 0):
            self.send(self.pointer, 2, struct.pack("<III", self.millis(), 0x110, state))
            self.send(self.pointer, 4)

    def run(self, command, args):
        downs = {"press": (True,), "release": (False,), "tap": (True, False)}
        if command in downs and len(args) == 1:
            for down in downs[command]:
                self.key(args[0], down)
        elif command == "click" and len(args) == 4:
            self.click(*args)
        else:
            raise ValueError("unknown command: %s %s" % (command, args))
        self.roundtrip()


def main(argv):
    keyboard = VirtualKeyboard()
    if argv == ["hold"]:
        try:
            while True:
                keyboard.read_events()
        except (RuntimeError, OSError):
            return 0
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        try:
            keyboard.run(words[0], [int(word, 0) for word in words[1:]])
        except (IndexError, ValueError) as error:
            print("error %s" % error, flush=True)
            continue
        print("ok", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
