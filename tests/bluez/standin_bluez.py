'''A stand-in bluetoothd for the BlueZ provider's tests: the bluez5 template
of python-dbusmock with the adapters and devices given as parameters, and
test hooks that hand a profile a link through Profile1.NewConnection, one end
of a socketpair, returning the other end to the caller.'''

import json
import socket
import time

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
# What Device1.ConnectProfile does, by device path: (owner, error name, message);
# an empty error name hands the owner's client profile a link, 'none' answers
# without one, 'hang' never answers.
CONNECT = {}
# The far ends of links handed out by ConnectProfile, for the test to take.
FAR_ENDS = []


def register_profile(_manager, path, uuid, options):
    if str(path) in PROFILES:
        raise dbus.exceptions.DBusException('Already Exists', name='org.bluez.Error.AlreadyExists')
    # bluetoothd keeps one profile per UUID, whoever registered it and in whichever role.
    if any(p['uuid'] == str(uuid) for p in PROFILES.values()):
        raise dbus.exceptions.DBusException('UUID already registered',
                                            name='org.bluez.Error.NotPermitted')
    PROFILES[str(path)] = {'uuid': str(uuid), 'options': {str(k): v for k, v in options.items()}}


def unregister_profile(_manager, path):
    if PROFILES.pop(str(path), None) is None:
        raise dbus.exceptions.DBusException('Does Not Exist', name='org.bluez.Error.DoesNotExist')


def hand_link(mock, owner, profile, device):
    '''Calls owner's Profile1.NewConnection with one end of a new socketpair;
    returns the other end.'''
    near, far = socket.socketpair()
    target = mock.connection.get_object(owner, profile, introspect=False)
    target.NewConnection(dbus.ObjectPath(device), dbus.types.UnixFd(near.fileno()),
                         dbus.Dictionary({}, signature='sv'),
                         dbus_interface='org.bluez.Profile1',
                         reply_handler=lambda: None, error_handler=lambda e: None)
    near.close()
    return far


def connect_profile(device, uuid):
    owner, error, message = CONNECT.get(device.__dbus_object_path__, ('', 'org.bluez.Error.Failed',
                                                                     'Host is down'))
    if error == 'none':
        return  # success, and no link
    if error == 'hang':
        time.sleep(60)  # busy paging: the test stops bluetoothd meanwhile
        return
    if error:
        raise dbus.exceptions.DBusException(message, name=error)
    for path, profile in PROFILES.items():
        if profile['uuid'] == str(uuid) and profile['options'].get('Role') == 'client':
            FAR_ENDS.append(hand_link(device, owner, path, device.__dbus_object_path__))
            return
    raise dbus.exceptions.DBusException('Profile Unavailable',
                                        name='org.bluez.Error.NotAvailable')


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
        props['Connected'] = dbus.Boolean(device.get('connected', False), variant_level=1)
        mockobject.objects[path].AddMethod(bluez5.DEVICE_IFACE, 'ConnectProfile', 's', '',
                                           connect_profile)
        if device.get('pair_error'):
            # A device that wants a PIN refuses a pairing without one.
            mockobject.objects[path].AddMethod(
                bluez5.DEVICE_IFACE, 'Pair', '', '',
                'raise dbus.exceptions.DBusException("Authentication Failed", '
                'name="%s")' % device['pair_error'])


@dbus.service.method(TEST_IFACE, in_signature='ssss', out_signature='')
def SetConnect(_self, device, owner, error, message):
    '''What ConnectProfile on device does (see CONNECT).'''
    CONNECT[str(device)] = (str(owner), str(error), str(message))


@dbus.service.method(TEST_IFACE, in_signature='', out_signature='h')
def TakeLink(_self):
    '''The far end of the oldest link ConnectProfile handed out.'''
    far = FAR_ENDS.pop(0)
    result = dbus.types.UnixFd(far.fileno())
    far.close()
    return result


@dbus.service.method(TEST_IFACE, in_signature='', out_signature='s')
def Agents(_self):
    '''The agents registered now, as JSON: {path: capability}.'''
    return json.dumps({str(k): str(v) for k, v in
                       mockobject.objects['/org/bluez'].capabilities.items()})


@dbus.service.method(TEST_IFACE, in_signature='', out_signature='s')
def Profiles(_self):
    '''The profiles registered now, as JSON: {path: {uuid, options}}.'''
    return json.dumps(PROFILES)


@dbus.service.method(TEST_IFACE, in_signature='soo', out_signature='h')
def NewLink(self, owner, profile, device):
    '''Hands the profile of owner a new link from device; returns the far end.'''
    far = hand_link(self, owner, profile, device)
    result = dbus.types.UnixFd(far.fileno())
    far.close()
    return result
