#!/usr/bin/env python3
"""Writes tests/mutation-report.md from the logs of scripts/mutants.sh.

The fast run meets the whole sample; the full run meets only the fast run's
survivors, so a mutant's full-suite outcome is its fast outcome unless the
full run re-ran it. Where a log holds a mutant twice, the later line counts.
Explanations of survivors ("Why" column) and the "## Notes" section of the
previous report are kept.
"""
import argparse, datetime, re, subprocess
from pathlib import Path

LINE = re.compile(r'^\[(\d+)/\d+\] (\S+)\s+(\S+?):(\d+) (\S+): (.*) \(\d+\+\d+ s\)$')
SCORED = {'killed': True, 'timeout': True, 'survived': False}


def outcomes(log):
    found = {}
    for line in Path(log).read_text().splitlines():
        m = LINE.match(line)
        if m:
            number, outcome, file, line_no, op, change = m.groups()
            found[int(number)] = dict(outcome=outcome, file=file, line=line_no, op=op, change=change)
    return found


def score(results):
    kills = [SCORED[r['outcome']] for r in results.values() if r['outcome'] in SCORED]
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
            if len(cells) == 6 and cells[0].isdigit():
                why[(cells[1].rsplit(':', 1)[0], cells[2])] = cells[5]
    return why, notes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('fast_log')
    parser.add_argument('full_log')
    parser.add_argument('report')
    for option in ('--fast', '--full', '--sample', '--seed'):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    fast = outcomes(args.fast_log)
    # A mutant the fast suites kill, the full suite kills too; the full run
    # decides only for the fast suites' survivors.
    rerun = outcomes(args.full_log)
    full = {n: r if r['outcome'] in ('killed', 'timeout') else rerun.get(n, r) for n, r in fast.items()}
    report = Path(args.report)
    why, notes = kept_explanations(report)
    commit = subprocess.run(['git', 'rev-parse', '--short', 'HEAD'], capture_output=True, text=True,
                            cwd=report.parent).stdout.strip()
    lines = ['# Mutation testing report', '',
             f'Written by `scripts/mutants.sh` on commit `{commit}`, {datetime.date.today()}. Sample: '
             f'{args.sample} mutants of `src/**/*.cpp` without `src/pkcs11`, `src/platform/windows` and '
             f'`src/device/linkstub`, seed {args.seed}; the sample stays the same while those sources do.', '',
             f'- Fast suites (`{args.fast}`): **{score(fast)}**',
             f'- Full Linux suite (`{args.full}`, run on the fast suites\' survivors): **{score(full)}**', '',
             '## Survivors', '', '| # | Where | Change | Fast suites | Full suite | Why |', '|---' * 6 + '|']
    for number, r in sorted(fast.items()):
        if r['outcome'] not in ('killed', 'timeout'):
            where = f"{r['file']}:{r['line']}"
            explanation = why.get((r['file'], r['change']), '')
            lines.append(f"| {number} | {where} | {r['change']} | {r['outcome']} | {full[number]['outcome']} | "
                         f'{explanation} |')
    report.write_text('\n'.join(lines) + '\n' + notes)


if __name__ == '__main__':
    main()
