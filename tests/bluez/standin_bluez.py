'''A stand-in bluetoothd for the BlueZ provider's tests: the bluez5 template
of python-dbusmock with the adapters and devices given as parameters, and
test hooks that hand a profile a link through Profile1.NewConnection, one end
of a socketpair, returning the other end to the caller.'''

import json
import socket

import dbus
import dbus.service

from dbusmock import mockobject
from dbusmock.templates import bluez5
from dbusmock.templates.bluez5 import *  # noqa: F401,F403 (the template's names)

BUS_NAME = bluez5.BUS_NAME
MAIN_OBJ = bluez5.MAIN_OBJ
SYSTEM_BUS = bluez5.SYSTEM_BUS
IS_OBJECT_MANAGER = bluez5.IS_OBJECT_MANAGER
TEST_IFACE = 'org.bluez.QuorlinkTest'
PROFILES = {}


def register_profile(_manager, path, uuid, options):
    if str(path) in PROFILES:
        raise dbus.exceptions.DBusException('Already Exists', name='org.bluez.Error.AlreadyExists')
    PROFILES[str(path)] = {'uuid': str(uuid), 'options': {str(k): v for k, v in options.items()}}


def unregister_profile(_manager, path):
    if PROFILES.pop(str(path), None) is None:
        raise dbus.exceptions.DBusException('Does Not Exist', name='org.bluez.Error.DoesNotExist')


def load(mock, parameters):
    bluez5.load(mock, parameters)
    mockobject.objects['/org/bluez'].AddMethods(bluez5.PROFILE_MANAGER_IFACE, [
        ('RegisterProfile', 'osa{sv}', '', register_profile),
        ('UnregisterProfile', 'o', '', unregister_profile),
    ])


@dbus.service.method(TEST_IFACE, in_signature='s', out_signature='')
def Setup(mock, text):
    '''Adds the adapters and devices of a JSON text once the mock is on the bus.'''
    parameters = json.loads(text)
    for adapter in parameters.get('adapters', []):
        path = bluez5.AddAdapter(mock, adapter['name'], adapter['alias'])
        if not adapter.get('powered', True):
            mockobject.objects[path].props[bluez5.ADAPTER_IFACE]['Powered'] = \
                dbus.Boolean(False, variant_level=1)
    for device in parameters.get('devices', []):
        path = bluez5.AddDevice(mock, device['adapter'], device['address'], device['alias'])
        props = mockobject.objects[path].props[bluez5.DEVICE_IFACE]
        props['Paired'] = dbus.Boolean(device.get('paired', False), variant_level=1)
        props['Class'] = dbus.UInt32(device.get('class', 0), variant_level=1)


@dbus.service.method(TEST_IFACE, in_signature='', out_signature='s')
def Profiles(_self):
    '''The profiles registered now, as JSON: {path: {uuid, options}}.'''
    return json.dumps(PROFILES)


@dbus.service.method(TEST_IFACE, in_signature='soo', out_signature='h')
def NewLink(self, owner, profile, device):
    '''Hands the profile of owner a new link from device; returns the far end.'''
    near, far = socket.socketpair()
    target = self.connection.get_object(owner, profile, introspect=False)
    target.NewConnection(dbus.ObjectPath(device), dbus.types.UnixFd(near.fileno()),
                         dbus.Dictionary({}, signature='sv'),
                         dbus_interface='org.bluez.Profile1',
                         reply_handler=lambda: None, error_handler=lambda e: None)
    near.close()
    result = dbus.types.UnixFd(far.fileno())
    far.close()
    return result
