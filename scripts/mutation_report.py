#!/usr/bin/env python3
"""Writes tests/mutation-report.md from the logs of scripts/mutants.sh.

Per seed (--run SEED PREFIX): PREFIX.fast.log, the fast run over the whole
sample; PREFIX.full.log, the full run over the fast run's survivors only, so a
mutant's full-suite outcome is its fast outcome unless the full run re-ran it;
PREFIX.fast.tests and PREFIX.full.tests, what scripts/mutant_tests.sh noted per
test run (the failing test cases). Where a log holds a mutant twice, the later
line counts. Explanations of survivors ("Why" column) and the "## Notes"
section of the previous report are kept.
"""
import argparse, datetime, re, subprocess
from pathlib import Path

LINE = re.compile(r'^\[(\d+)/\d+\] (\S+)\s+(\S+?):(\d+) (\S+): (.*) \(\d+\+\d+ s\)$')
SCORED = {'killed': True, 'timeout': True, 'survived': False}
TESTED = ('killed', 'timeout', 'survived')


def outcomes(log):
    found = {}
    if Path(log).exists():
        for line in Path(log).read_text().splitlines():
            m = LINE.match(line)
            if m:
                number, outcome, file, line_no, op, change = m.groups()
                found[int(number)] = dict(outcome=outcome, file=file, line=line_no, op=op, change=change)
    return found


def test_runs(path):
    """The mutated test runs noted by mutant_tests.sh, in order: (place, failing cases, note)."""
    runs = []
    if Path(path).exists():
        for line in Path(path).read_text().splitlines():
            cells = line.split('\t')
            if len(cells) == 2 and cells[1] == 'started':
                runs.append(dict(place=cells[0], cases='', note='cut short by the time limit'))
            elif len(cells) == 4 and runs and runs[-1]['place'] == cells[0]:
                runs[-1].update(cases=cells[2], note=cells[3])
    return [r for r in runs if r['place']]


def attach(results, runs):
    """Gives each tested mutant, in the order they ran, its test run's notes."""
    queue = iter(runs)
    for number in sorted(results):
        r = results[number]
        if r['outcome'] in TESTED:
            run = next(queue, None)
            if run is not None and run['place'] == f"{r['file']}:{r['line']}":
                r.update(cases=run['cases'], note=run['note'])


def score(results):
    kills = [SCORED[r['outcome']] for r in results if r['outcome'] in SCORED]
    killed = sum(kills)
    percent = f'{100.0 * killed / len(kills):.1f}%' if kills else 'n/a'
    return f'{len(kills)} built, {killed} killed, {len(kills) - killed} survived, score {percent}'


def kept_explanations(old):
    why, notes = {}, ''
    if old.exists():
        text = old.read_text()
        body, _, rest = text.partition('\n## Notes\n')
        notes = '\n## Notes\n' + rest if rest else ''
        for row in body.splitlines():
            cells = [c.strip() for c in row.strip().strip('|').split(' | ')]
            if len(cells) == 6 and cells[0].isdigit() and cells[5]:
                why[(cells[1].rsplit(':', 1)[0], cells[2])] = cells[5]
    return why, notes


def cell(text):
    return text.replace('|', '\\|')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('report')
    parser.add_argument('--run', nargs=2, action='append', required=True, metavar=('SEED', 'PREFIX'))
    for option in ('--fast', '--full', '--sample'):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    report = Path(args.report)
    why, notes = kept_explanations(report)
    commit = subprocess.run(['git', 'rev-parse', '--short', 'HEAD'], capture_output=True, text=True,
                            cwd=report.parent).stdout.strip()
    samples = []
    for seed, prefix in args.run:
        fast = outcomes(prefix + '.fast.log')
        attach(fast, test_runs(prefix + '.fast.tests'))
        # A mutant the fast suites kill, the full suite kills too; the full run
        # decides only for the fast suites' survivors.
        rerun = outcomes(prefix + '.full.log')
        full = {n: r if r['outcome'] in ('killed', 'timeout') else rerun.get(n, r) for n, r in fast.items()}
        samples.append((seed, fast, full))
    seeds = ', '.join(seed for seed, _, _ in samples)
    lines = ['# Mutation testing report', '',
             f'Written by `scripts/mutants.sh` on commit `{commit}`, {datetime.date.today()}. Samples of '
             f'{args.sample} mutants of `src/**/*.cpp` and `src/**/*.h` without `src/pkcs11`, '
             f'`src/platform/windows` and `src/device/linkstub`, seeds {seeds}; a sample stays the same while '
             'those sources do.', '',
             f'- Fast suites (`{args.fast}`): ' +
             '; '.join(f'seed {seed} **{score(fast.values())}**' for seed, fast, _ in samples) +
             (f'; together **{score([r for _, fast, _ in samples for r in fast.values()])}**'
              if len(samples) > 1 else '')]
    if args.full:
        lines.append(f'- Full Linux suite (`{args.full}`, run on the fast suites\' survivors): ' +
                     '; '.join(f'seed {seed} **{score(full.values())}**' for seed, _, full in samples))
    for seed, fast, full in samples:
        lines += ['', f'## Seed {seed}: survivors', '', '| # | Where | Change | Fast suites | Full suite | Why |',
                  '|---' * 6 + '|']
        for number, r in sorted(fast.items()):
            if r['outcome'] not in ('killed', 'timeout'):
                explanation = why.get((r['file'], r['change']), r.get('note', ''))
                full_outcome = full[number]['outcome'] if args.full else 'not run'
                lines.append(f"| {number} | {r['file']}:{r['line']} | {r['change']} | {r['outcome']} | "
                             f'{full_outcome} | {explanation} |')
        lines += ['', f'## Seed {seed}: killed by the fast suites', '', '| # | Where | Change | Failing tests |',
                  '|---' * 4 + '|']
        for number, r in sorted(fast.items()):
            if r['outcome'] in ('killed', 'timeout'):
                failing = r.get('cases', '') or 'not noted'
                if r['outcome'] == 'timeout':
                    failing = f'timeout ({failing})'
                if r.get('note'):
                    failing += f"; {r['note']}"
                lines.append(f"| {number} | {r['file']}:{r['line']} | {r['change']} | {cell(failing)} |")
    report.write_text('\n'.join(lines) + '\n' + notes)


if __name__ == '__main__':
    main()
