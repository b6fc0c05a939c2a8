'''A StatusNotifierWatcher with a host registered, for python3-dbusmock (--template FILE).

Run with Debian's /usr/bin/python3:
  /usr/bin/python3 -m dbusmock --session --template status_notifier_watcher.py
Tray items register themselves with RegisterStatusNotifierItem; the call log of the mock
(org.freedesktop.DBus.Mock.GetMethodCalls) tells a test which bus name an item took.
'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    })
    mock.AddMethod(MAIN_IFACE, 'RegisterStatusNotifierItem', 's', '',
                   'items = list(self.Get("%s", "RegisteredStatusNotifierItems"))\n'
                   'items.append(args[0])\n'
                   'self.Set("%s", "RegisteredStatusNotifierItems", dbus.Array(items, signature="s"))\n'
                   'self.EmitSignal("%s", "StatusNotifierItemRegistered", "s", [args[0]])'
                   % (MAIN_IFACE, MAIN_IFACE, MAIN_IFACE))
    mock.AddMethod(MAIN_IFACE, 'RegisterStatusNotifierHost', 's', '', '')
