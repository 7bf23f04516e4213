# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

'''Runs the daemon beside the two floor programs of its own stack and prints
one table: medians (min, max) over interleaved rounds, each figure with its
ratio to the floor, and the targets met or not met: a ratio to the floor where a
floor program has the figure, an absolute limit only where none has. Started
by scripts/bench.
'''
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(HERE, '..', 'tests', 'harness', 'run-with-buses')
# The daemon runs twice: as it is, and with malloc_trim made a no-op.
PROGRAMS = ('daemon', 'daemon-notrim', 'rest-floor', 'event-floor')
NOTICE_KINDS = ('shown', 'other')


class Sandbox:
    '''sandbox.py under its own run-with-buses: private buses, settings and
    peer for one program.'''

    def __init__(self, kind, program, extra=()):
        self.kind = kind
        if kind == 'daemon-notrim':
            kind = 'daemon'
        self.proc = subprocess.Popen([HARNESS, '/usr/bin/python3', os.path.join(HERE, 'sandbox.py'), kind, program]
                                     + list(extra), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.read()

    def send(self, *words):
        self.proc.stdin.write((' '.join(str(w) for w in words) + '\n').encode())
        self.proc.stdin.flush()

    def read(self):
        line = self.proc.stdout.readline()
        if not line:
            raise SystemExit('the %s sandbox ended early (status %s)' % (self.kind, self.proc.wait()))
        return json.loads(line)

    def ask(self, *words):
        self.send(*words)
        return self.read()

    def close(self):
        if self.proc.poll() is None:
            try:
                self.ask('stop')
            except SystemExit:
                pass
            self.proc.stdin.close()
            self.proc.wait(60)


def machine_line():
    with open('/proc/cpuinfo') as f:
        model = next((l.split(':', 1)[1].strip() for l in f if l.startswith('model name')), 'unknown CPU')
    with open('/proc/loadavg') as f:
        load = ' '.join(f.read().split()[:3])
    return 'machine: %d CPUs, %s, load %s' % (os.cpu_count(), model, load)


class Figures:
    '''Samples per (figure, program); the table takes medians, minima, maxima.'''

    def __init__(self):
        self.samples = {}

    def add(self, figure, program, value):
        if value is not None:
            self.samples.setdefault((figure, program), []).append(value)

    def median(self, figure, program):
        values = self.samples.get((figure, program))
        return statistics.median(values) if values else None

    def cell(self, figure, program, fmt):
        values = self.samples.get((figure, program))
        if not values:
            return '-'
        text = fmt % statistics.median(values)
        if len(values) > 1:
            text += ' (%s..%s)' % (fmt % min(values), fmt % max(values))
        return text


def start_round(args, order, figures):
    '''Starts the three programs one after the other, then measures them at
    rest and idle side by side, and per event in a normal run.'''
    boxes = {}
    try:
        for kind in order:
            boxes[kind] = Sandbox(kind, args.program[kind], args.extra[kind])
            started = boxes[kind].ask('start')
            figures.add('name_ms', kind, started['name_ms'])
            figures.add('report_ms', kind, started.get('report_ms'))
        for kind in order:
            boxes[kind].send('rest', args.rest_at)
        for kind in order:
            rest = boxes[kind].read()
            for key in ('rss', 'pss', 'private_dirty', 'threads'):
                figures.add(key, kind, rest[key])
        for kind in order:
            boxes[kind].send('idle', args.idle)
        for kind in order:
            idle = boxes[kind].read()
            figures.add('idle_cpu_ms', kind, idle['cpu_ms'])
            figures.add('idle_wakeups', kind, idle['wakeups'])
        handlers = [k for k in order if k != 'rest-floor']
        for event in ('shown', 'other', 'upgrade', 'proxy', 'paced-shown'):
            for kind in handlers:
                if event in ('upgrade', 'proxy') and not kind.startswith('daemon'):
                    continue
                result = boxes[kind].ask('events', event, args.events)
                figures.add('cpu_us_' + event, kind, result['cpu_us'])
                if 'p50_us' in result:
                    figures.add('p50_us_' + event, kind, result['p50_us'])
                    figures.add('p99_us_' + event, kind, result['p99_us'])
    finally:
        for box in boxes.values():
            box.close()


def count_instructions(args, figures, dumps):
    '''Instructions per event under callgrind, for the daemon as it is, the
    daemon with malloc_trim made a no-op, and the event floor.'''
    runs = [('daemon', ('shown', 'other', 'upgrade', 'proxy')),
            ('daemon-notrim', ('shown', 'other', 'upgrade', 'proxy')),
            ('rest-floor', ()),
            ('event-floor', NOTICE_KINDS)]
    for label, events in runs:
        box = Sandbox(label, args.program[label], ('--callgrind', dumps) + args.extra[label])
        try:
            figures.add('ir_start', label, box.ask('start')['ir'])
            for event in events:
                count = args.events if event != 'proxy' else args.proxy_events
                result = box.ask('count', event, count)
                figures.add('ir_' + event, label, result['ir'])
        finally:
            box.close()


def measure_growth(args, figures):
    for kind in ('daemon', 'event-floor'):
        box = Sandbox(kind, args.program[kind])
        try:
            box.ask('start')
            result = box.ask('growth', args.growth_first, args.growth)
            figures.add('growth_kib', kind, result['rss_last'] - result['rss_first'])
            figures.add('anon_growth_kib', kind, result['anon_last'] - result['anon_first'])
            figures.add('rss_first', kind, result['rss_first'])
        finally:
            box.close()


def ratio(a, b):
    return a / b if a is not None and b else None


def print_table(args, figures, machine_before, machine_after):
    f = figures
    rows = []
    for program in PROGRAMS:
        if f.median('ir_start', program):
            f.add('ir_start_k', program, f.median('ir_start', program) / 1000)

    def row(label, figure, fmt, floor, note=''):
        daemon = f.cell(figure, 'daemon', fmt)
        floor_cell = f.cell(figure, floor, fmt) if floor else '-'
        r = ratio(f.median(figure, 'daemon'), f.median(figure, floor)) if floor else None
        rows.append((label, daemon, floor_cell, '%.2fx' % r if r else '-', note))

    def trimless(figure, fmt, floor):
        '''The row of the daemon with malloc_trim a no-op, and the trim's share.'''
        full = f.median(figure, 'daemon')
        without = f.median(figure, 'daemon-notrim')
        if without is None:
            return
        r = ratio(without, f.median(figure, floor)) if floor else None
        rows.append(('5   same, malloc_trim a no-op', f.cell(figure, 'daemon-notrim', fmt),
                     f.cell(figure, floor, fmt) if floor else '-', '%.2fx' % r if r else '-',
                     'trim share %.1f%%' % (100 * (full - without) / full) if full else ''))

    print(machine_before)
    print('rounds: %d (programs interleaved), events per kind: %d, idle window: %d s, at rest: %d s after start, '
          'debug output off' % (args.rounds, args.events, args.idle, args.rest_at))
    print()
    row('1 exec -> name owned (ms)', 'name_ms', '%.1f', 'rest-floor')
    row('1 exec -> first SetSystemProxy (ms)', 'report_ms', '%.1f', None)
    row('1 Ir from exec to settled (1000s)', 'ir_start_k', '%.0f', 'rest-floor')
    row('2 Rss at rest (KiB)', 'rss', '%d', 'rest-floor')
    row('2 Pss at rest (KiB)', 'pss', '%d', 'rest-floor')
    row('2 Private_Dirty at rest (KiB)', 'private_dirty', '%d', 'rest-floor')
    row('2 threads', 'threads', '%d', 'rest-floor')
    row('3 idle CPU over %d s (ms)' % args.idle, 'idle_cpu_ms', '%.3f', 'rest-floor')
    row('3 idle voluntary switches', 'idle_wakeups', '%d', 'rest-floor')
    for event, label in (('shown', 'notice shown'), ('other', 'notice for another user'),
                         ('upgrade', 'upgrade list, notified today'), ('proxy', 'proxy change, paced')):
        floor = 'event-floor' if event in NOTICE_KINDS else None
        row('4 Ir per event: %s' % label, 'ir_' + event, '%.0f', floor)
        trimless('ir_' + event, '%.0f', floor)
    for event, label in (('shown', 'notice shown'), ('other', 'notice for another user'),
                         ('upgrade', 'upgrade list, notified today'), ('proxy', 'proxy change, paced'),
                         ('paced-shown', 'notice shown, paced')):
        floor = 'event-floor' if event in ('shown', 'other', 'paced-shown') else None
        row('4 CPU per event: %s (us)' % label, 'cpu_us_' + event, '%.1f', floor)
        trimless('cpu_us_' + event, '%.1f', floor)
    for figure, label, floor in (('paced-shown', 'signal -> Notify', 'event-floor'),
                                 ('proxy', 'setting -> SetSystemProxy', None)):
        for p in ('p50', 'p99'):
            row('4 latency %s %s (us)' % (label, p), '%s_us_%s' % (p, figure), '%.0f', floor)
            trimless('%s_us_%s' % (p, figure), '%.0f', floor)
    row('6 Rss after %d events (KiB)' % args.growth_first, 'rss_first', '%d', 'event-floor')
    row('6 Rss growth, %d -> %d events (KiB)' % (args.growth_first, args.growth), 'growth_kib', '%d', 'event-floor')
    row('6   of which Anonymous (KiB)', 'anon_growth_kib', '%d', 'event-floor')

    widths = [max(len(r[i]) for r in rows + [('figure', 'daemon', 'floor', 'ratio', '')]) for i in range(5)]
    header = ('figure', 'daemon', 'floor', 'ratio', '')
    for r in [header] + rows:
        print('  '.join(c.ljust(w) if i == 0 else c.rjust(w) if i < 4 else c for i, (c, w) in enumerate(zip(r, widths))).rstrip())
    print('floor: rest floor for figures 1-3, event floor for 4-6')
    print()

    targets = []

    def target(label, value, met, shown):
        if value is None:
            targets.append(('not measured', label, ''))
        else:
            targets.append(('met' if met else 'NOT MET', label, shown))

    def against_floor(label, figure, floor, limit, fmt, unit, program='daemon', note=''):
        """A target on the ratio of a figure to its floor's, shown beside
        both figures: what the stack costs anyway is not held against the
        daemon. A floor of 0 or less (no growth) leaves no ratio: then the
        daemon may not exceed it."""
        value, base = f.median(figure, program), f.median(figure, floor)
        if value is None or base is None:
            target(label, None, False, '')
            return
        both = ('(daemon %s, floor %s)' % (fmt % value + unit, fmt % base + unit)) + note
        if base <= 0:
            target(label, value, value <= base, 'no ratio ' + both)
        else:
            target(label, value, value / base <= limit, '%.3fx %s' % (value / base, both))

    def absolute(label, figure, limit, fmt, unit):
        """A target of a figure no floor program has."""
        value = f.median(figure, 'daemon')
        target(label, value, value is not None and value <= limit,
               (fmt % value) + unit + ' (no floor)' if value is not None else '')

    against_floor('Rss at rest <= 1.10x rest floor', 'rss', 'rest-floor', 1.10, '%d', ' KiB')
    against_floor('Private_Dirty at rest <= 1.15x rest floor', 'private_dirty', 'rest-floor', 1.15, '%d', ' KiB')
    against_floor('exec -> name owned <= 1.5x rest floor', 'name_ms', 'rest-floor', 1.5, '%.1f', ' ms')
    absolute('exec -> first report <= 50 ms', 'report_ms', 50, '%.1f', ' ms')
    against_floor('idle wake-ups in %d s <= 1.0x rest floor' % args.idle, 'idle_wakeups', 'rest-floor', 1.0,
                  '%d', '')
    against_floor('idle CPU in %d s <= 1.0x rest floor' % args.idle, 'idle_cpu_ms', 'rest-floor', 1.0, '%.3f', ' ms')
    for event, label, limit in (('shown', 'notice shown', 1.15), ('other', 'notice dropped', 1.15)):
        full = f.median('ir_' + event, 'daemon')
        fn = f.median('ir_' + event, 'daemon-notrim')
        share = ', trim share %.1f%%' % (100 * (full - fn) / full) if full and fn else ''
        against_floor('Ir per %s, trim a no-op, <= %.2fx event floor' % (label, limit), 'ir_' + event,
                      'event-floor', limit, '%d', '', program='daemon-notrim', note=share)
    against_floor('Rss growth over %d events <= 1.5x event floor' % args.growth, 'growth_kib', 'event-floor', 1.5,
                  '%d', ' KiB')
    print('targets:')
    width = max(len(label) for _, label, _ in targets)
    for verdict, label, shown in targets:
        print('  %-12s %s  %s' % (verdict, label.ljust(width), shown))
    print()
    print(machine_after.replace('machine:', 'machine at the end:'))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--events', type=int, default=2000)
    parser.add_argument('--proxy-events', type=int, default=0, help='proxy changes under callgrind (default: --events)')
    parser.add_argument('--growth', type=int, default=100000)
    parser.add_argument('--growth-first', type=int, default=1000)
    parser.add_argument('--idle', type=int, default=30)
    parser.add_argument('--rest-at', type=int, default=10)
    parser.add_argument('--no-callgrind', action='store_true')
    parser.add_argument('--keep-dumps', metavar='DIR', help='keep the callgrind dumps in DIR for callgrind_annotate')
    parser.add_argument('--daemon', required=True)
    parser.add_argument('--rest-floor', required=True)
    parser.add_argument('--event-floor', required=True)
    parser.add_argument('--trim-noop', required=True)
    args = parser.parse_args()
    args.proxy_events = args.proxy_events or args.events
    args.program = {'daemon': args.daemon, 'daemon-notrim': args.daemon, 'rest-floor': args.rest_floor,
                    'event-floor': args.event_floor}
    args.extra = {kind: () for kind in PROGRAMS}
    args.extra['daemon-notrim'] = ('--preload', args.trim_noop)

    machine_before = machine_line()
    figures = Figures()
    for r in range(args.rounds):
        order = PROGRAMS[r % len(PROGRAMS):] + PROGRAMS[:r % len(PROGRAMS)]
        sys.stderr.write('round %d of %d: %s\n' % (r + 1, args.rounds, ', '.join(order)))
        start_round(args, order, figures)
    if not args.no_callgrind:
        sys.stderr.write('instructions under callgrind\n')
        if args.keep_dumps:
            os.makedirs(args.keep_dumps, exist_ok=True)
            count_instructions(args, figures, os.path.abspath(args.keep_dumps))
        else:
            with tempfile.TemporaryDirectory(prefix='orvane-bench-') as dumps:
                count_instructions(args, figures, dumps)
    if args.growth:
        sys.stderr.write('resident growth\n')
        measure_growth(args, figures)
    print_table(args, figures, machine_before, machine_line())


if __name__ == '__main__':
    main()
