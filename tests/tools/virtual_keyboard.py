#!/usr/bin/python3
"""A virtual keyboard for tests on a Wayland compositor that offers zwp_virtual_keyboard_v1
(sway, Hyprland, river): presses keys BY KEY CODE, so that a compositor binding on a code fires
(sway `bindcode 108` is Right Alt: evdev code 100, plus 8 in X/xkb numbering). The keymap is the
standard US layout (rules evdev), so codes mean what they mean on a real keyboard.

Usage: /usr/bin/python3 tests/tools/virtual_keyboard.py [COMMAND ...]
Commands (arguments, each a single word with ':' between parts, or lines on stdin):
    press CODE / press:CODE        key down (evdev code, e.g. 100 = Right Alt, 42 = Left Shift)
    release CODE / release:CODE    key up
    tap CODE / tap:CODE            down then up
    click X Y WIDTH HEIGHT         the left button pressed and released at (X, Y) of a layout
                                   WIDTH x HEIGHT in size, by a virtual pointer
                                   (zwlr_virtual_pointer_manager_v1, made at the first click: the
                                   headless seat has no pointer until one exists)
    hold                           keep the keyboard until the compositor ends (or a signal)
With commands as arguments, it runs them and exits. Without, it prints "ready" once the keyboard
exists, then reads commands from stdin and answers each with "ok" after the compositor has
processed it (a round trip): keep one such keyboard for a whole test, since the seat of a headless
compositor has no keyboard until a virtual one exists, and a fresh keyboard may lose its first key
in clients. Needs WAYLAND_DISPLAY (and XDG_RUNTIME_DIR) and libxkbcommon.

Written against the Wayland wire format directly (Debian 12 has no Python Wayland bindings):
messages are 32-bit words, header = object id, then (size << 16 | opcode).
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


def xkb_keymap_text(layout="us"):
    """The keymap for layout as xkbcommon writes it (text format v1)."""
    lib = ctypes.CDLL(ctypes.util.find_library("xkbcommon") or "libxkbcommon.so.0")

    class RuleNames(ctypes.Structure):
        _fields_ = [(name, ctypes.c_char_p) for name in ("rules", "model", "layout", "variant", "options")]

    lib.xkb_context_new.restype = ctypes.c_void_p
    lib.xkb_keymap_new_from_names.restype = ctypes.c_void_p
    lib.xkb_keymap_new_from_names.argtypes = [ctypes.c_void_p, ctypes.POINTER(RuleNames), ctypes.c_int]
    lib.xkb_keymap_get_as_string.restype = ctypes.c_void_p
    lib.xkb_keymap_get_as_string.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.xkb_keymap_unref.argtypes = [ctypes.c_void_p]
    lib.xkb_context_unref.argtypes = [ctypes.c_void_p]
    libc = ctypes.CDLL(None)
    libc.free.argtypes = [ctypes.c_void_p]

    context = lib.xkb_context_new(0)
    names = RuleNames(b"evdev", b"pc105", layout.encode(), b"", b"")
    keymap = lib.xkb_keymap_new_from_names(context, ctypes.byref(names), 0)
    if not keymap:
        raise RuntimeError("xkbcommon could not compile the '%s' keymap (is xkb-data installed?)" % layout)
    pointer = lib.xkb_keymap_get_as_string(keymap, 1)  # XKB_KEYMAP_FORMAT_TEXT_V1
    text = ctypes.string_at(pointer)
    libc.free(pointer)
    lib.xkb_keymap_unref(keymap)
    lib.xkb_context_unref(context)
    return text


class Connection:
    def __init__(self):
        name = os.environ.get("WAYLAND_DISPLAY", "wayland-0")
        path = name if name.startswith("/") else os.path.join(os.environ["XDG_RUNTIME_DIR"], name)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2
        self.pending = b""
        self.globals = {}  # interface -> (name, version)
        self.done_callbacks = set()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b"", fds=()):
        message = struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload
        if fds:
            self.sock.sendmsg([message], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", fds))])
        else:
            self.sock.sendall(message)

    @staticmethod
    def string(text):
        data = text.encode() + b"\0"
        return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)

    def read_events(self, registry):
        data = self.sock.recv(65536)
        if not data:
            raise RuntimeError("the compositor closed the connection")
        self.pending += data
        while len(self.pending) >= 8:
            obj, word = struct.unpack_from("<II", self.pending)
            size, opcode = word >> 16, word & 0xFFFF
            if len(self.pending) < size:
                break
            body = self.pending[8:size]
            self.pending = self.pending[size:]
            if obj == WL_DISPLAY and opcode == 0:  # error(object, code, message)
                failed, code, length = struct.unpack_from("<III", body)
                message = body[12:12 + length - 1].decode(errors="replace")
                raise RuntimeError("Wayland error on object %d, code %d: %s" % (failed, code, message))
            if obj == registry and opcode == 0:  # global(name, interface, version)
                name, length = struct.unpack_from("<II", body)
                interface = body[8:8 + length - 1].decode()
                (version,) = struct.unpack_from("<I", body, 8 + length + (-length % 4))
                self.globals.setdefault(interface, (name, version))
            elif obj in self.done_callbacks and opcode == 0:  # wl_callback.done
                self.done_callbacks.discard(obj)
                self.finished.add(obj)

    def roundtrip(self, registry):
        callback = self.new_id()
        self.send(WL_DISPLAY, 0, struct.pack("<I", callback))  # wl_display.sync
        self.done_callbacks.add(callback)
        self.finished = set()
        while callback not in self.finished:
            self.read_events(registry)

    def bind(self, registry, interface, version):
        if interface not in self.globals:
            raise RuntimeError("the compositor offers no %s" % interface)
        name, offered = self.globals[interface]
        obj = self.new_id()
        payload = struct.pack("<I", name) + self.string(interface) + struct.pack("<II", min(version, offered), obj)
        self.send(registry, 0, payload)
        return obj


class VirtualKeyboard:
    def __init__(self):
        self.connection = Connection()
        c = self.connection
        self.registry = c.new_id()
        c.send(WL_DISPLAY, 1, struct.pack("<I", self.registry))  # get_registry
        c.roundtrip(self.registry)
        seat = c.bind(self.registry, "wl_seat", 1)
        manager = c.bind(self.registry, "zwp_virtual_keyboard_manager_v1", 1)
        self.keyboard = c.new_id()
        c.send(manager, 0, struct.pack("<II", seat, self.keyboard))  # create_virtual_keyboard
        keymap = xkb_keymap_text() + b"\0"
        with tempfile.TemporaryFile() as file:
            file.write(keymap)
            file.flush()
            # keymap(format = XKB_V1, fd, size)
            c.send(self.keyboard, 0, struct.pack("<II", 1, len(keymap)), fds=[file.fileno()])
            c.roundtrip(self.registry)
        self.start = time.monotonic()
        self.seat = seat
        self.pointer = None

    def click(self, x, y, width, height):
        c = self.connection
        if self.pointer is None:
            manager = c.bind(self.registry, "zwlr_virtual_pointer_manager_v1", 1)
            self.pointer = c.new_id()
            c.send(manager, 0, struct.pack("<II", self.seat, self.pointer))  # create_virtual_pointer
        # motion_absolute(time, x, y, x_extent, y_extent), then button(time, BTN_LEFT, state);
        # each followed by frame.
        c.send(self.pointer, 1, struct.pack("<IIIII", self.millis(), x, y, width, height))
        c.send(self.pointer, 4)
        for state in (1, 0):
            c.send(self.pointer, 2, struct.pack("<III", self.millis(), 0x110, state))
            c.send(self.pointer, 4)

    def millis(self):
        return int((time.monotonic() - self.start) * 1000) & 0xFFFFFFFF

    def key(self, code, pressed):
        self.connection.send(self.keyboard, 1, struct.pack("<III", self.millis(), code, 1 if pressed else 0))

    def run(self, words):
        command, args = words[0], [int(word, 0) for word in words[1:]]
        if command == "press" and len(args) == 1:
            self.key(args[0], True)
        elif command == "release" and len(args) == 1:
            self.key(args[0], False)
        elif command == "tap" and len(args) == 1:
            self.key(args[0], True)
            self.key(args[0], False)
        elif command == "click" and len(args) == 4:
            self.click(*args)
        elif command == "hold" and not args:
            try:
                while True:
                    self.connection.read_events(self.registry)
            except (RuntimeError, OSError):
                return
        else:
            raise ValueError("unknown command: %s" % " ".join(words))
        self.connection.roundtrip(self.registry)


def main(argv):
    keyboard = VirtualKeyboard()
    if argv:
        for word in argv:
            keyboard.run(word.split(":"))
        return 0
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        try:
            keyboard.run(words)
        except ValueError as error:
            print("error %s" % error, flush=True)
            continue
        print("ok", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
