#!/usr/bin/env python3
"""A stand-in ModemManager on a private bus, for the tests and the demo.

It is python3-dbusmock's generic mock, named org.freedesktop.ModemManager1
at /org/freedesktop/ModemManager1 with an ObjectManager, filled with the
objects mms-modem uses: modems with Messaging (List, Delete, signals Added
and Deleted, property Messages) and SMS objects (State, PduType, Number,
Timestamp, Data). The bus is DBUS_SYSTEM_BUS_ADDRESS.

As a program it sets up one modem and turns every UDP datagram sent to
127.0.0.1:PORT into a received SMS on it, which is how the demo's MMS
centre reaches the mock instead of the push router:

    scripts/mock_modem.py --udp PORT [--number NUMBER]
"""
import argparse
import os
import signal
import socket
import subprocess
import sys
import time

import dbus

MM = 'org.freedesktop.ModemManager1'
ROOT = '/org/freedesktop/ModemManager1'
MESSAGING = MM + '.Modem.Messaging'
SMS = MM + '.Sms'
MOCK = 'org.freedesktop.DBus.Mock'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'
RECEIVING, RECEIVED = 2, 3
DELIVER, SUBMIT = 1, 2

# Messaging.Delete: drop the SMS object and announce it, as ModemManager does.
DELETE = '''
props = self.props["%s"]
kept = dbus.Array([], signature="o")
for m in props["Messages"]:
    if m != args[0]:
        kept.append(m)
props["Messages"] = kept
objects[args[0]].remove_from_connection()
del objects[args[0]]
self.EmitSignal("%s", "Deleted", "o", [args[0]])
''' % (MESSAGING, MESSAGING)

# Messaging.Delete that SIGKILLs the process whose pid is in the file first,
# leaving the SMS in place: a bridge killed between hand-over and delete.
KILL_ON_DELETE = '''
import os, signal
with open("%s") as f:
    os.kill(int(f.read()), signal.SIGKILL)
'''


def bus():
    return dbus.bus.BusConnection(os.environ['DBUS_SYSTEM_BUS_ADDRESS'])


class ModemManager:
    """The mock process and the calls that shape its objects."""

    def __init__(self):
        self.process = subprocess.Popen(
            [sys.executable, '-m', 'dbusmock', '--system', '-m', MM, ROOT, MM],
            stdout=subprocess.DEVNULL)
        self.bus = bus()
        for _ in range(100):
            if self.bus.name_has_owner(MM):
                break
            time.sleep(0.05)
        else:
            raise RuntimeError('the ModemManager mock did not start')
        self.sms_count = 0

    def mock(self, path):
        return dbus.Interface(self.bus.get_object(MM, path), MOCK)

    def stop(self):
        self.process.terminate()
        self.process.wait()

    def add_modem(self, index=0):
        path = '%s/Modem/%d' % (ROOT, index)
        props = {'Messages': dbus.Array([], signature='o')}
        self.mock(ROOT).AddObject(path, MESSAGING, props, [
            ('List', '', 'ao', 'ret = self.props["%s"]["Messages"]' % MESSAGING),
            ('Delete', 'o', '', DELETE)])
        self.mock(ROOT).EmitSignal(OBJECT_MANAGER, 'InterfacesAdded',
                                   'oa{sa{sv}}', [path, {MESSAGING: props}])
        return path

    def remove_modem(self, path):
        self.mock(ROOT).RemoveObject(path)
        self.mock(ROOT).EmitSignal(OBJECT_MANAGER, 'InterfacesRemoved', 'oas',
                                   [path, [MESSAGING]])

    def kill_on_delete(self, modem, pid_file):
        code = KILL_ON_DELETE % pid_file if pid_file else DELETE
        self.mock(modem).AddMethod(MESSAGING, 'Delete', 'o', '', code)

    def add_sms(self, modem, data=b'', text='', state=RECEIVED,
                pdu_type=DELIVER, number='+15550100', announce=True):
        """A new SMS in the modem's list; Added(path, true) when announce."""
        self.sms_count += 1
        path = '%s/SMS/%d' % (ROOT, self.sms_count)
        self.mock(ROOT).AddObject(path, SMS, {
            'State': dbus.UInt32(state),
            'PduType': dbus.UInt32(pdu_type),
            'Number': dbus.String(number),
            'Text': dbus.String(text),
            'Timestamp': dbus.String('2026-12-06T10:00:%02d+00' %
                                     (self.sms_count % 60)),
            'Data': dbus.Array([dbus.Byte(b) for b in data], signature='y'),
        }, [])
        properties = dbus.Interface(self.bus.get_object(MM, modem),
                                    dbus.PROPERTIES_IFACE)
        messages = list(properties.Get(MESSAGING, 'Messages')) + [path]
        self.mock(modem).UpdateProperties(
            MESSAGING, {'Messages': dbus.Array(messages, signature='o')})
        if announce:
            self.mock(modem).EmitSignal(MESSAGING, 'Added', 'ob',
                                        [path, True])
        return path

    def set_sms(self, path, state=None, data=None):
        """Changes the SMS as a further part arrives (PropertiesChanged)."""
        properties = dbus.Interface(self.bus.get_object(MM, path),
                                    dbus.PROPERTIES_IFACE)
        if data is not None:
            properties.Set(SMS, 'Data',
                           dbus.Array([dbus.Byte(b) for b in data],
                                      signature='y'))
        if state is not None:
            properties.Set(SMS, 'State', dbus.UInt32(state))

    def messages(self, modem):
        properties = dbus.Interface(self.bus.get_object(MM, modem),
                                    dbus.PROPERTIES_IFACE)
        return [str(p) for p in properties.Get(MESSAGING, 'Messages')]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--udp', type=int, required=True,
                        help='loopback UDP port whose datagrams become SMS')
    parser.add_argument('--number', default='+15550100',
                        help='the sender number the SMS carry')
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.bind(('127.0.0.1', args.udp))
    manager = ModemManager()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        modem = manager.add_modem()
        print('mock modem %s takes SMS on 127.0.0.1:%d' % (modem, args.udp),
              flush=True)
        while True:
            data = listener.recv(65536)
            path = manager.add_sms(modem, data, number=args.number)
            print('SMS %s: %d bytes from %s' % (path, len(data), args.number),
                  flush=True)
    finally:
        manager.stop()


if __name__ == '__main__':
    main()
