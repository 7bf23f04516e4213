# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''One program under measurement in its own sandbox (run under
tests/harness/run-with-buses): starts the fast peer, then the program, and
measures it on commands read from stdin, one JSON answer per line on stdout.

usage: sandbox.py PROGRAM-KIND PROGRAM [--callgrind DIR] [--preload LIB]...
'''
import argparse
import glob
import json
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'harness'))
from orvane_testlib import bus, TMPDIR  # noqa: E402

OBJECTS = {
    'daemon': ('com.orvane.appstore.daemon', '/com/orvane/appstore/daemon'),
    'rest-floor': ('com.orvane.appstore.restfloor', '/com/orvane/appstore/floor'),
    'event-floor': ('com.orvane.appstore.eventfloor', '/com/orvane/appstore/floor'),
}
PEER = os.environ['ORVANE_BENCH_PEER']


class PeerProcess:
    def __init__(self, watched):
        self.lines = queue.Queue()
        self.stash = {}
        self.log = open(os.path.join(TMPDIR, 'peer.log'), 'wb')
        self.proc = subprocess.Popen([PEER, watched], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.log)
        threading.Thread(target=self._read, daemon=True).start()
        self.expect('ready', 30)

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode().rstrip('\n'))
        self.lines.put(None)

    def send(self, line):
        self.proc.stdin.write(line.encode() + b'\n')
        self.proc.stdin.flush()

    def expect(self, tag, timeout):
        '''The words after tag on the next line tagged so (earlier lines with
        other tags are kept for their own expect).'''
        if self.stash.get(tag):
            return self.stash[tag].pop(0)
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise SystemExit('bench peer: no %r within %d s' % (tag, timeout))
            if line is None:
                raise SystemExit('bench peer ended; see its log')
            word, _, rest = line.partition(' ')
            if word == 'error':
                raise SystemExit('bench peer: %s (waiting for %r)' % (rest, tag))
            if word == tag:
                return rest.split()
            self.stash.setdefault(word, []).append(rest.split())

    def clear(self, tag):
        self.stash.pop(tag, None)


def tasks(pid):
    return glob.glob('/proc/%d/task/*' % pid)


def cpu_ns(pid):
    '''CPU time of every thread of pid, from schedstat (ns).'''
    total = 0
    for task in tasks(pid):
        try:
            with open(task + '/schedstat') as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def switches(pid):
    voluntary = involuntary = 0
    for task in tasks(pid):
        try:
            with open(task + '/status') as f:
                for line in f:
                    if line.startswith('voluntary_ctxt_switches:'):
                        voluntary += int(line.split()[1])
                    elif line.startswith('nonvoluntary_ctxt_switches:'):
                        involuntary += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return voluntary, involuntary


def memory_kib(pid):
    fields = {}
    with open('/proc/%d/smaps_rollup' % pid) as f:
        for line in f:
            m = re.match(r'(\w+):\s+(\d+) kB', line)
            if m:
                fields[m.group(1)] = int(m.group(2))
    return fields


class Sandbox:
    def __init__(self, args):
        self.kind = args.kind
        self.program = args.program
        self.callgrind = args.callgrind
        self.preload = args.preload
        self.name, self.path = OBJECTS[self.kind]
        self.session = bus(False)
        self.proc = None
        release = os.path.join(TMPDIR, 'os-release')
        with open(release, 'w') as f:
            f.write('NUVIX_EDITION_TYPE=3\n')
        self.env = dict(os.environ, NUVIX_OS_RELEASE=release, QT_LOGGING_RULES='*.debug=false')
        self.env.pop('ORVANE_BENCH_PEER', None)
        if self.preload:
            self.env['LD_PRELOAD'] = ':'.join(self.preload)
        # An automatic proxy whose address the proxy events then switch.
        for key, value in (('autoconfig-url', 'http://wpad.example/a.pac'), ('mode', 'auto')):
            subprocess.run(['gsettings', 'set', 'com.orvane.wrap.gnome.system.proxy', key, value], check=True)
        self.peer = PeerProcess(self.name)
        self.slow = 20 if self.callgrind else 1
        # Cost of one shown notice, taken out where one was sent as a marker.
        self.marker = {'cpu_us': 0.0, 'ir': 0.0}
        self.markers = 0

    def settle(self):
        '''Returns once the program's event loop has answered a call on its
        object: everything it had received before has been handled.'''
        obj = self.session.get_object(self.name, self.path, introspect=False)
        deadline = time.monotonic() + 60 * self.slow
        while True:
            try:
                obj.GetAll('com.orvane.bench', dbus_interface='org.freedesktop.DBus.Properties', timeout=60 * self.slow)
                return
            except dbus.exceptions.DBusException as e:
                if e.get_dbus_name() not in ('org.freedesktop.DBus.Error.UnknownObject',
                                             'org.freedesktop.DBus.Error.ServiceUnknown'):
                    return
            if time.monotonic() > deadline:
                raise SystemExit('%s does not answer' % self.kind)
            time.sleep(0.005)

    def cmd_start(self):
        argv = [self.program]
        if self.callgrind:
            argv = ['valgrind', '--tool=callgrind', '--callgrind-out-file=%s/callgrind.out.%%p' % self.callgrind] + argv
        self.peer.clear('name')
        self.peer.clear('report')
        self.peer.send('arm')
        self.peer.expect('armed', 10)
        self.log = open(os.path.join(TMPDIR, 'program.log'), 'wb')
        started = time.monotonic_ns()
        self.proc = subprocess.Popen(argv, env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.started = started
        named = int(self.peer.expect('name', 30 * self.slow)[0])
        answer = {'pid': self.proc.pid, 'name_ms': (named - started) / 1e6}
        if self.kind == 'daemon':
            reported = int(self.peer.expect('report', 30 * self.slow)[0])
            answer['report_ms'] = (reported - started) / 1e6
        self.settle()
        if self.callgrind:
            answer['ir'] = self.dump('start')
        return answer

    def cmd_rest(self, at):
        delay = self.started / 1e9 + float(at) - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        mem = memory_kib(self.proc.pid)
        return {'rss': mem['Rss'], 'pss': mem['Pss'], 'private_dirty': mem['Private_Dirty'],
                'threads': len(tasks(self.proc.pid))}

    def cmd_idle(self, seconds):
        cpu = cpu_ns(self.proc.pid)
        voluntary, involuntary = switches(self.proc.pid)
        time.sleep(float(seconds))
        voluntary2, involuntary2 = switches(self.proc.pid)
        return {'cpu_ms': (cpu_ns(self.proc.pid) - cpu) / 1e6, 'wakeups': voluntary2 - voluntary,
                'involuntary': involuntary2 - involuntary}

    def drive(self, kind, n):
        '''Sends n events of kind and returns once the program has handled
        them; the latencies when they were paced. Bursts end with a shown
        notice more, whose notification marks the end (self.markers).'''
        if kind in ('proxy',) or kind.startswith('paced-'):
            self.peer.send('pace %s %d' % (kind.replace('paced-', ''), n))
            latencies = [float(v) for v in self.peer.expect('latency', 60 + n * self.slow)]
            self.settle()
            return latencies
        self.peer.send('emit %s %d' % (kind, n))
        self.markers = int(self.peer.expect('emitted', 60 + n * self.slow)[1])
        self.settle()
        return None

    def cmd_events(self, kind, n):
        n = int(n)
        cpu = cpu_ns(self.proc.pid)
        latencies = self.drive(kind, n)
        answer = {'cpu_us': self.per_event('cpu_us', (cpu_ns(self.proc.pid) - cpu) / 1e3, kind, n, latencies)}
        if latencies is not None:
            if len(latencies) < n:
                raise SystemExit('%s: %d of %d paced events answered' % (self.kind, len(latencies), n))
            latencies.sort()
            answer['p50_us'] = latencies[len(latencies) // 2]
            answer['p99_us'] = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
        return answer

    def per_event(self, figure, total, kind, n, latencies):
        if latencies is not None:
            return total / n
        if kind == 'shown':
            self.marker[figure] = total / (n + self.markers)
            return self.marker[figure]
        return (total - self.markers * self.marker[figure]) / n

    def callgrind_control(self, option):
        subprocess.run(['callgrind_control', option, str(self.proc.pid)], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def cmd_count(self, kind, n):
        '''Instructions per event under callgrind: the counters are zeroed
        before the events are sent and dumped once they are handled.'''
        n = int(n)
        self.callgrind_control('--zero')
        latencies = self.drive(kind, n)
        return {'ir': self.per_event('ir', self.dump(kind), kind, n, latencies)}

    def dump(self, label):
        '''Instructions counted since the last zeroing (or the start).'''
        pattern = os.path.join(self.callgrind, 'callgrind.out.%d.*' % self.proc.pid)
        before = set(glob.glob(pattern))
        self.callgrind_control('--dump=%s' % label)
        new = set(glob.glob(pattern)) - before
        if len(new) != 1:
            raise SystemExit('no callgrind dump for %s' % label)
        with open(new.pop()) as f:
            for line in f:
                if line.startswith('summary:') or line.startswith('totals:'):
                    return int(line.split()[1])
        raise SystemExit('no totals in the callgrind dump for %s' % label)

    def cmd_growth(self, first, total):
        '''Resident memory after the first events of a long mixed run, and
        at its end.'''
        first, total = int(first), int(total)
        sent = 0
        answer = {}
        while sent < total:
            step = min(1000, total - sent, first - sent if sent < first else total)
            self.drive('mix', step)
            sent += step
            if sent == first:
                mem = memory_kib(self.proc.pid)
                answer['rss_first'], answer['anon_first'] = mem['Rss'], mem['Anonymous']
        mem = memory_kib(self.proc.pid)
        answer['rss_last'], answer['anon_last'] = mem['Rss'], mem['Anonymous']
        return answer

    def cmd_stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30 * self.slow)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return {'status': self.proc.returncode if self.proc else None}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('kind', choices=sorted(OBJECTS))
    parser.add_argument('program')
    parser.add_argument('--callgrind')
    parser.add_argument('--preload', action='append', default=[])
    sandbox = Sandbox(parser.parse_args())
    print(json.dumps({'ready': True}), flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        answer = getattr(sandbox, 'cmd_' + words[0])(*words[1:])
        print(json.dumps(answer), flush=True)
        if words[0] == 'stop':
            break
    sandbox.cmd_stop()


if __name__ == '__main__':
    main()
