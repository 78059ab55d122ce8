#!/usr/bin/env python3
"""mms-modem against a mock ModemManager on a private bus.

Each test starts its own dbus-daemon, device root, push router and listener
(mmsctl listen), then the mock (scripts/mock_modem.py) and the bridge, and
checks what reaches the listener and what stays on the modem.
Run by CTest with MMS_BUILD_DIR set to the build folder.
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, 'scripts'))
import mock_modem  # noqa: E402

BUILD = os.environ.get('MMS_BUILD_DIR', os.path.join(SOURCE, 'build-asan'))


def push_pdu(content_type, body):
    """A connectionless WSP Push PDU: TID, 0x06, HeadersLen, type, body."""
    return bytes([0x01, 0x06, len(content_type)]) + content_type + body


def mms_push(body):
    return push_pdu(b'\xbe', body)  # application/vnd.wap.mms-message


def notification(url):
    return mms_push(bytes.fromhex('8c82 98743100 8d90 83') + url.encode() +
                    b'\0')


def delivery(message_id):
    return mms_push(b'\x8c\x86\x8b' + message_id.encode() + b'\0\x95\x81')


class Program:
    """A started program whose output lines are collected as they come."""

    def __init__(self, argv, env, ready):
        self.lines = []
        self.process = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        self.wait_line(ready)

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip('\n'))

    def count(self, text):
        return sum(text in line for line in self.lines)

    def wait_line(self, text, timeout=15):
        wait_until(lambda: self.count(text) > 0, timeout,
                   'no "%s" in:\n%s' % (text, '\n'.join(self.lines)))

    def stop(self):
        """Stops it with SIGTERM; a clean exit (no leak reports) is 0."""
        if self.process.poll() is None:
            self.process.terminate()
            if self.process.wait() != 0:
                raise AssertionError('%s exited with %d:\n%s' % (
                    self.process.args[0], self.process.returncode,
                    '\n'.join(self.lines)))
        self.process.wait()
        self.process.stdout.close()


def wait_until(predicate, timeout=15, message='timed out'):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(message)
        time.sleep(0.05)


class BridgeTest(unittest.TestCase):

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix='mms-modem-test.')
        self.env = dict(os.environ, MMS_DEVICE_ROOT=self.work + '/device',
                        LSAN_OPTIONS='suppressions=' + SOURCE +
                        '/tests/tools/lsan_suppressions.txt')
        os.makedirs(self.env['MMS_DEVICE_ROOT'])
        self.programs = []
        bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork',
                                '--print-address'], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (bus.terminate(), bus.wait(),
                                 bus.stdout.close()))
        address = bus.stdout.readline().strip()
        self.env['DBUS_SYSTEM_BUS_ADDRESS'] = address
        os.environ['DBUS_SYSTEM_BUS_ADDRESS'] = address
        self.start('mms-pushrouter', '--port', '0', ready='listening on')
        self.listener = self.start('mmsctl', 'listen',
                                   ready='listening for pushes')
        self.mm = None
        self.addCleanup(self.stop_all)

    def stop_all(self):
        for program in reversed(self.programs):
            program.stop()
        if self.mm:
            self.mm.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self, name, *args, ready):
        program = Program([os.path.join(BUILD, name)] + list(args), self.env,
                          ready)
        self.programs.append(program)
        return program

    def start_bridge(self):
        return self.start('mms-modem', '--verbose', ready='bridging')

    def start_modem_manager(self):
        self.mm = mock_modem.ModemManager()
        return self.mm.add_modem()

    def status(self):
        return subprocess.run([os.path.join(BUILD, 'mmsctl'), 'pushrouter',
                               '--status'], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def wait_gone(self, modem, sms):
        wait_until(lambda: sms not in self.mm.messages(modem), 15,
                   sms + ' was not deleted:\n' +
                   '\n'.join(self.programs[-1].lines))

    def test_pushes_reach_the_listener_and_only_they_leave_the_modem(self):
        modem = self.start_modem_manager()
        early = self.mm.add_sms(modem, notification('http://mmsc.test/early'),
                                announce=False)
        text = self.mm.add_sms(modem, text='hello', announce=False)
        si = self.mm.add_sms(modem, push_pdu(b'\xae', b'\x02\x05\x6a\x00'),
                             announce=False)
        sent = self.mm.add_sms(modem, notification('http://mmsc.test/sent'),
                               pdu_type=mock_modem.SUBMIT, announce=False)
        bridge = self.start_bridge()
        self.listener.wait_line('WapUrl:   http://mmsc.test/early')
        self.wait_gone(modem, early)
        report = self.mm.add_sms(modem, delivery('msg-1'))
        self.listener.wait_line('DeliveryReportMsgID:  msg-1')
        self.wait_gone(modem, report)
        self.assertEqual([text, si, sent], self.mm.messages(modem))
        for args, code, line in ((['--retry', '0'], 2, '--retry needs'),
                                 ([], 1, 'a bridge already runs')):
            second = subprocess.run([os.path.join(BUILD, 'mms-modem')] + args,
                                    env=self.env, capture_output=True,
                                    text=True)
            self.assertEqual(code, second.returncode)
            self.assertEqual(1, second.stderr.count('\n'))
            self.assertIn(line, second.stderr)
        status = self.status()
        self.assertIn('bridge: running, pid %d' % bridge.process.pid, status)
        for count in ('modem.stored 2', 'modem.left-alone 2', 'accepted 2'):
            self.assertIn('count: ' + count, status)

    def test_an_sms_still_arriving_is_handled_once_complete(self):
        modem = self.start_modem_manager()
        self.start_bridge()
        whole = notification('http://mmsc.test/in-two-parts')
        sms = self.mm.add_sms(modem, whole[:12], state=mock_modem.RECEIVING)
        self.mm.set_sms(sms, data=whole)
        time.sleep(1)
        self.assertEqual(0, self.listener.count('push:'))
        self.mm.set_sms(sms, state=mock_modem.RECEIVED)
        self.listener.wait_line('WapUrl:   http://mmsc.test/in-two-parts')
        self.wait_gone(modem, sms)

    def test_a_malformed_mms_push_is_refused_deleted_and_not_retried(self):
        modem = self.start_modem_manager()
        bridge = self.start_bridge()
        bad = self.mm.add_sms(modem, mms_push(b'\x01\x02\x03'))
        bridge.wait_line('refused the MMS push')
        self.wait_gone(modem, bad)
        good = self.mm.add_sms(modem, notification('http://mmsc.test/after'))
        self.listener.wait_line('WapUrl:   http://mmsc.test/after')
        self.wait_gone(modem, good)
        bridge.stop()
        self.start_bridge()
        time.sleep(0.5)
        self.assertEqual(1, self.listener.count('push:'))
        status = self.status()
        self.assertIn('count: modem.refused 1', status)
        self.assertIn('count: malformed.not-mms 1', status)

    def test_a_bridge_killed_before_the_delete_loses_nothing(self):
        modem = self.start_modem_manager()
        bridge = self.start_bridge()
        pid_file = os.path.join(self.work, 'bridge.pid')
        with open(pid_file, 'w') as f:
            f.write(str(bridge.process.pid))
        self.mm.kill_on_delete(modem, pid_file)
        sms = self.mm.add_sms(modem, notification('http://mmsc.test/kept'))
        self.assertEqual(-9, bridge.process.wait(15))
        self.assertIn(sms, self.mm.messages(modem))
        self.mm.kill_on_delete(modem, None)
        self.start_bridge()
        self.wait_gone(modem, sms)
        self.listener.wait_line('WapUrl:   http://mmsc.test/kept')
        self.assertIn('count: modem.duplicate 1', self.status())

    def test_a_push_stays_on_the_modem_while_the_router_cannot_take_it(self):
        modem = self.start_modem_manager()
        bridge = self.start('mms-modem', '--retry', '1', ready='bridging')
        store = os.path.join(self.env['MMS_DEVICE_ROOT'], 'pushrouter.db')
        with sqlite3.connect(store) as db:  # as if no client registered yet
            db.execute('DELETE FROM registrations')
        sms = self.mm.add_sms(modem, notification('http://mmsc.test/waited'))
        later = "SELECT count FROM counters WHERE name = 'modem.later'"
        wait_until(lambda: (sqlite3.connect(store).execute(later).fetchone()
                            or (0,))[0] >= 2, 120)  # retried at least once
        self.programs[0].stop()  # the router
        bridge.wait_line('no push router runs')
        self.assertIn(sms, self.mm.messages(modem))
        self.start('mms-pushrouter', '--port', '0', ready='listening on')
        self.listener.stop()  # a new listener registers again
        self.listener = self.start('mmsctl', 'listen',
                                   ready='listening for pushes')
        self.listener.wait_line('WapUrl:   http://mmsc.test/waited')
        self.wait_gone(modem, sms)

    def test_modem_manager_and_modems_come_and_go(self):
        bridge = self.start_bridge()
        cpu = bridge_cpu_ticks(bridge)
        time.sleep(1.5)
        self.assertLess(bridge_cpu_ticks(bridge) - cpu, 20)  # no busy loop
        self.assertEqual(1, bridge.count('waiting for ModemManager'))
        modem = self.start_modem_manager()
        first = self.mm.add_sms(modem, notification('http://mmsc.test/1'))
        self.listener.wait_line('WapUrl:   http://mmsc.test/1')
        self.wait_gone(modem, first)
        self.mm.remove_modem(modem)
        modem = self.mm.add_modem(1)
        second = self.mm.add_sms(modem, notification('http://mmsc.test/2'))
        self.listener.wait_line('WapUrl:   http://mmsc.test/2')
        self.wait_gone(modem, second)
        self.mm.stop()
        bridge.wait_line('ModemManager left the bus')
        modem = self.start_modem_manager()
        third = self.mm.add_sms(modem, notification('http://mmsc.test/3'))
        self.listener.wait_line('WapUrl:   http://mmsc.test/3')
        self.wait_gone(modem, third)


def bridge_cpu_ticks(program):
    with open('/proc/%d/stat' % program.process.pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


if __name__ == '__main__':
    unittest.main()
