'''A desktop portal for tests: org.freedesktop.portal.GlobalShortcuts and
org.freedesktop.portal.RemoteDesktop on org.freedesktop.portal.Desktop, answering through
Request objects as the real portal does (the Response signal on the handle path, after the
method's reply).

Parameters:
  globalshortcuts_version (u, 1; 0: interface absent), remotedesktop_version (u, 2; 0: absent)
  bind_response (u, 0): the BindShortcuts answer; 1 cancelled, 2 failed
  trigger (s, ''): the trigger_description of the bound shortcut ('' : the preferred trigger)
  start_response (u, 0): the RemoteDesktop Start answer (the permission dialog)
  Start hands out the restore token 'token-1-<count of Starts>' (version 2)

Extra methods on org.freedesktop.DBus.Mock: Press(b down) emits Activated or Deactivated for the
shortcut of the newest GlobalShortcuts session; ChangeTrigger(s trigger) emits ShortcutsChanged
for it (the user changed the key in the desktop's settings); CloseSessions() emits Closed for
every session.
'''
import dbus
from dbus.mainloop.glib import DBusGMainLoop  # noqa: F401 (the mock's loop is GLib's)
from gi.repository import GLib

from dbusmock import MOCK_IFACE
from dbusmock.mockobject import loggedmethod

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False

SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
REMOTE = 'org.freedesktop.portal.RemoteDesktop'
REGISTRY = 'org.freedesktop.host.portal.Registry'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'


def load(mock, parameters):
    mock.settings = {
        'globalshortcuts_version': 1, 'remotedesktop_version': 2, 'bind_response': 0,
        'trigger': '', 'start_response': 0,
    }
    mock.settings.update(parameters)
    mock.sessions = []  # (interface, path), oldest first
    mock.starts = 0
    props = {REGISTRY: {'version': dbus.UInt32(1)}}
    if mock.settings['globalshortcuts_version']:
        props[SHORTCUTS] = {'version': dbus.UInt32(mock.settings['globalshortcuts_version'])}
    if mock.settings['remotedesktop_version']:
        props[REMOTE] = {'version': dbus.UInt32(mock.settings['remotedesktop_version']),
                         'AvailableDeviceTypes': dbus.UInt32(7)}
    for interface, values in props.items():
        mock.AddProperties(interface, values)
    _add_remote_create_session(mock)


def _add_remote_create_session(mock):
    '''RemoteDesktop.CreateSession: dbus-python finds a method by its Python name, and
    GlobalShortcuts.CreateSession has that name already, so this one lives in a subclass that
    the mock becomes; a lookup for the other interface passes on to the base class.'''
    def CreateSession(self, options, sender=None):
        return _create_session(self, REMOTE, options, sender)
    method = dbus.service.method(REMOTE, in_signature='a{sv}', out_signature='o',
                                 sender_keyword='sender')(CreateSession)
    base = mock.__class__
    mock.__class__ = type(base)('PortalMock', (base,),
                              {'CreateSession': loggedmethod(mock, method)})


def _handle(kind, sender, token):
    return '%s/%s/%s/%s' % (MAIN_OBJ, kind, sender[1:].replace('.', '_'), token)


def _respond(mock, path, code, results):
    def emit():
        mock._emit_signal(REQUEST, 'Response', 'ua{sv}',
                          [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')],
                          {'path': path})
        return False
    GLib.idle_add(emit)
    return dbus.ObjectPath(path)


def _shortcut(shortcut_id, description, trigger):
    return dbus.Struct((shortcut_id, dbus.Dictionary(
        {'description': description, 'trigger_description': trigger}, signature='sv')),
        signature='sa{sv}')


def _newest_shortcuts_session(mock):
    return dbus.ObjectPath([path for interface, path in mock.sessions if interface == SHORTCUTS][-1])


def _refuse_without(mock, interface):
    key = {SHORTCUTS: 'globalshortcuts_version', REMOTE: 'remotedesktop_version'}[interface]
    if not mock.settings[key]:
        raise dbus.exceptions.DBusException('no ' + interface,
                                            name='org.freedesktop.DBus.Error.UnknownMethod')


def _create_session(mock, interface, options, sender):
    _refuse_without(mock, interface)
    session = _handle('session', sender, options['session_handle_token'])
    if session not in [path for _, path in mock.sessions]:
        mock.AddObject(session, SESSION, {}, [('Close', '', '', '')])
    mock.sessions.append((interface, session))
    return _respond(mock, _handle('request', sender, options['handle_token']), 0,
                    {'session_handle': session})


@dbus.service.method(REGISTRY, in_signature='sa{sv}', out_signature='')
def Register(self, app_id, options):
    pass


@dbus.service.method(SHORTCUTS, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    return _create_session(self, SHORTCUTS, options, sender)


@dbus.service.method(SHORTCUTS, in_signature='oa(sa{sv})sa{sv}', out_signature='o',
                     sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent_window, options, sender=None):
    answered = [_shortcut(shortcut_id, properties.get('description', ''),
                          self.settings['trigger'] or str(properties.get('preferred_trigger', '')))
                for shortcut_id, properties in shortcuts]
    return _respond(self, _handle('request', sender, options['handle_token']),
                    self.settings['bind_response'],
                    {'shortcuts': dbus.Array(answered, signature='(sa{sv})')})


@dbus.service.method(REMOTE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    return _respond(self, _handle('request', sender, options['handle_token']), 0, {})


@dbus.service.method(REMOTE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender=None):
    self.starts += 1
    results = {'devices': dbus.UInt32(1)}
    if self.settings['remotedesktop_version'] >= 2:
        results['restore_token'] = 'token-1-%d' % self.starts
    return _respond(self, _handle('request', sender, options['handle_token']),
                    self.settings['start_response'], results)


@dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeysym(self, session, options, keysym, state):
    pass


@dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeycode(self, session, options, keycode, state):
    pass


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def Press(self, down):
    self.EmitSignal(SHORTCUTS, 'Activated' if down else 'Deactivated', 'osta{sv}',
                    [_newest_shortcuts_session(self), 'hold-to-talk', dbus.UInt64(0), {}])


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def ChangeTrigger(self, trigger):
    shortcuts = dbus.Array([_shortcut('hold-to-talk', 'changed', trigger)], signature='(sa{sv})')
    self.EmitSignal(SHORTCUTS, 'ShortcutsChanged', 'oa(sa{sv})',
                    [_newest_shortcuts_session(self), shortcuts])


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def CloseSessions(self):
    for _, session in self.sessions:
        self._emit_signal(SESSION, 'Closed', 'a{sv}', [{}], {'path': session})
