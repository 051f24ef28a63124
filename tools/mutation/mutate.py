#!/usr/bin/env python3
"""Mutation testing: do the tests fail when the code is wrong?

Each mutant of the catalogue (tools/mutation/catalogue.txt) is one small
fault put into one source file by replacing an exact snippet. The script
copies the repository once into a scratch tree (build/mutation/tree by
default, kept between runs so that later runs build incrementally),
builds it once with the release preset, checks that the suite passes
there, and then for each selected mutant:

  1. replaces the snippet in the copy (the repository is never touched),
  2. rebuilds incrementally (make rebuilds only what depends on the file),
  3. runs the ctest suite, stopping at the first failing test,
  4. puts the original file back.

A mutant is
  killed          some test failed (or timed out),
  survived        every test passed: a fault the suite does not see,
  not applicable  the snippet is no longer in the file (the code moved on),
  equivalent      marked so in the catalogue, with the reason (not run
                  unless --run-equivalent),
  build failed    the mutant does not compile (a catalogue slip).
The score is killed / (killed + survived), over mutants not marked
equivalent. A survivor marked "accepted" keeps its reason in the report.

  tools/mutation/mutate.py                      every mutant
  tools/mutation/mutate.py --sample 5 --seed 7  five mutants drawn at random
  tools/mutation/mutate.py output-reaction-half cubic-one-sign
  tools/mutation/mutate.py --list               the catalogue, nothing run
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

KINDS = {
    "comparison",
    "arithmetic",
    "constant",
    "negated condition",
    "deleted statement",
    "swapped arguments",
}
KEYS = {"file", "kind", "from", "to", "occurrence", "equivalent", "accepted", "note"}


@dataclass
class Mutant:
    name: str
    line: int  # line of the catalogue where the entry starts
    fields: dict = field(default_factory=dict)

    @property
    def file(self):
        return self.fields["file"]

    @property
    def original(self):
        return unescape(self.fields["from"])

    @property
    def replacement(self):
        return unescape(self.fields["to"])


def unescape(s):
    """Snippets are one catalogue line: \\n stands for a line end, \\\\ for a backslash."""
    out = []
    i = 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s) and s[i + 1] in "n\\":
            out.append("\n" if s[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def parse_catalogue(path):
    """Entries: a line "[name]", then "key: value" lines. '#' starts a
    comment line; blank lines are ignored. A value is everything after the
    first ": " (so snippets keep their inner blanks)."""
    mutants = []
    current = None
    errors = []
    for number, raw in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), start=1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        m = re.fullmatch(r"\[([A-Za-z0-9_.-]+)\]\s*", line)
        if m:
            current = Mutant(m.group(1), number)
            mutants.append(current)
            continue
        m = re.fullmatch(r"([a-z]+): ?(.*)", line)
        if not m or current is None:
            errors.append(f"{path}:{number}: expected \"[name]\" or \"key: value\", found {line!r}")
            continue
        key, value = m.group(1), m.group(2)
        if key not in KEYS:
            errors.append(f"{path}:{number}: unknown key {key!r} (known: {', '.join(sorted(KEYS))})")
        elif key in current.fields:
            errors.append(f"{path}:{number}: {key} given twice for {current.name}")
        else:
            current.fields[key] = value
    names = set()
    for mu in mutants:
        where = f"{path}:{mu.line}: {mu.name}"
        if mu.name in names:
            errors.append(f"{where}: the name is used twice")
        names.add(mu.name)
        for key in ("file", "kind", "from", "to"):
            if key not in mu.fields:
                errors.append(f"{where}: no {key}")
        if mu.fields.get("kind") not in KINDS:
            errors.append(f"{where}: kind {mu.fields.get('kind')!r} is none of {', '.join(sorted(KINDS))}")
        if "from" in mu.fields and mu.fields.get("from") == mu.fields.get("to"):
            errors.append(f"{where}: the replacement equals the original")
        if "equivalent" in mu.fields and "accepted" in mu.fields:
            errors.append(f"{where}: a mutant is either equivalent or accepted, not both")
        for key in ("equivalent", "accepted"):
            if key in mu.fields and not mu.fields[key].strip():
                errors.append(f"{where}: {key} needs its reason")
    if errors:
        sys.exit("\n".join(errors))
    return mutants


def apply(text, mutant):
    """The mutated text, or (None, why) when the snippet cannot be placed."""
    original = mutant.original
    count = text.count(original)
    if count == 0:
        return None, "snippet not found"
    occurrence = int(mutant.fields.get("occurrence", "0"))
    if occurrence == 0:
        if count > 1:
            return None, f"snippet found {count} times; say which with occurrence"
        occurrence = 1
    if occurrence > count:
        return None, f"occurrence {occurrence} asked, snippet found {count} times"
    at = -1
    for _ in range(occurrence):
        at = text.index(original, at + 1)
    return text[:at] + mutant.replacement + text[at + len(original):], None


def run(cmd, cwd, log, timeout=None):
    with open(log, "w", encoding="utf-8") as out:
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def tracked_files(repo):
    out = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=repo, check=True,
                         capture_output=True).stdout
    return [p for p in out.decode().split("\0") if p and (repo / p).is_file()]


def sync_tree(repo, tree):
    """Copies the repository's files (committed or not, minus ignored ones)
    into tree, writing only files whose content differs so that the build
    there stays incremental; removes files the repository no longer has."""
    files = tracked_files(repo)
    wanted = set(files)
    tree.mkdir(parents=True, exist_ok=True)
    copied = 0
    for rel in files:
        src = repo / rel
        dst = tree / rel
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)
        copied += 1
    for path in tree.rglob("*"):
        rel = path.relative_to(tree).as_posix()
        if rel.startswith("build/") or rel == "build":
            continue
        if path.is_file() and rel not in wanted:
            path.unlink()
    return copied


def test_programs(build, exclude):
    """Test number -> the files of the build folder that its command names
    (the test program, or the programs a script is given), from ctest's
    own listing; tests matching the exclude pattern are left out. Numbers
    are ctest's (1-based, in its order), as -I takes them."""
    listing = json.loads(subprocess.run(["ctest", "--test-dir", str(build), "--show-only=json-v1"], check=True,
                                        capture_output=True, text=True).stdout)
    programs = {}
    root = str(build) + os.sep
    for number, t in enumerate(listing["tests"], start=1):
        if exclude and re.search(exclude, t["name"]):
            continue
        programs[number] = {a for a in t.get("command", []) if a.startswith(root) and os.path.isfile(a)}
    return programs


def only(numbers):
    return ["-I", "0,0,0," + ",".join(map(str, sorted(numbers)))]


def newer_than(paths, when):
    return {p for p in paths if os.path.getmtime(p) > when}


def failed_tests(log):
    text = Path(log).read_text(encoding="utf-8", errors="replace")
    names = re.findall(r"Test\s+#\d+: (\S+) \.+\**\s*(?:Failed|Timeout|Exception|Not Run|\*\*\*)", text)
    return names


def test_mutant(m, build_cmd, test_cmd, tree, logs, before, programs, all_programs, every_test):
    """Builds the mutated copy and runs the tests that can see the mutant:
    (status, detail)."""
    if run(build_cmd, tree, logs / f"{m.name}.build.log") != 0:
        return "build failed", str(logs / f"{m.name}.build.log")
    numbers = list(programs)
    if not every_test:
        changed = newer_than(all_programs, before)
        numbers = [n for n, used in programs.items() if used & changed or not used]
        if not numbers:
            return "survived", "no test program changed"
    cmd = test_cmd + only(numbers)
    if run(cmd, tree, logs / f"{m.name}.test.log") != 0:
        return "killed", ", ".join(failed_tests(logs / f"{m.name}.test.log")[:3])
    return "survived", m.fields.get("accepted", "")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("names", nargs="*", help="run these mutants only")
    ap.add_argument("--catalogue", default=None, help="catalogue file (default: catalogue.txt beside the script)")
    ap.add_argument("--sample", type=int, default=0, metavar="K", help="run K mutants drawn at random")
    ap.add_argument("--seed", type=int, default=1, help="seed of --sample (default 1)")
    ap.add_argument("--work", default=None, help="scratch folder (default: build/mutation in the repository)")
    ap.add_argument("--exclude", default="", metavar="REGEX", help="tests (names matching REGEX) left out of every run")
    ap.add_argument("--timeout", type=int, default=120, help="seconds one test may run (default 120)")
    ap.add_argument("--jobs", type=int, default=2, help="parallel build and test jobs (default 2)")
    ap.add_argument("--run-equivalent", action="store_true", help="run mutants marked equivalent as well")
    ap.add_argument("--every-test", action="store_true",
                    help="run the whole suite for each mutant, not only the tests of the programs it changed")
    ap.add_argument("--list", action="store_true", help="list the selected mutants and stop")
    ap.add_argument("--report", default=None, help="also write the result table to this file")
    args = ap.parse_args()

    repo = Path(__file__).resolve().parents[2]

    catalogue = Path(args.catalogue) if args.catalogue else Path(__file__).with_name("catalogue.txt")
    mutants = parse_catalogue(catalogue)
    if args.names:
        by_name = {m.name: m for m in mutants}
        unknown = [n for n in args.names if n not in by_name]
        if unknown:
            sys.exit(f"no mutant named {', '.join(unknown)} in {catalogue}")
        selected = [by_name[n] for n in args.names]
    elif args.sample > 0:
        pool = [m for m in mutants if args.run_equivalent or "equivalent" not in m.fields]
        selected = random.Random(args.seed).sample(pool, min(args.sample, len(pool)))
    else:
        selected = list(mutants)

    if args.list:
        # Whether each snippet still applies to the repository's own files.
        for m in selected:
            tag = " (equivalent)" if "equivalent" in m.fields else " (accepted)" if "accepted" in m.fields else ""
            path = repo / m.file
            why = apply(path.read_text(encoding="utf-8"), m)[1] if path.is_file() else "file not found"
            print(f"{m.name:36} {m.fields['kind']:18} {m.file}{tag}" + (f"  NOT APPLICABLE: {why}" if why else ""))
        print(f"{len(selected)} of {len(mutants)} mutants")
        return 0

    work = Path(args.work).resolve() if args.work else repo / "build" / "mutation"
    tree = work / "tree"
    logs = work / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    build = tree / "build" / "release"
    started = time.monotonic()

    copied = sync_tree(repo, tree)
    print(f"tree: {tree} ({copied} files copied)", flush=True)
    if not (build / "CMakeCache.txt").is_file():
        # The release preset, with warnings not fatal: a mutant that only
        # draws a warning (an unused variable after a deleted statement) is
        # still a program whose behaviour the tests should judge.
        if run(["cmake", "--preset", "release", "-DWARNINGS_AS_ERRORS=OFF"], tree, logs / "configure.log") != 0:
            sys.exit(f"configuring the copy failed: {logs / 'configure.log'}")
    build_cmd = ["cmake", "--build", str(build), "-j", str(args.jobs)]
    test_cmd = ["ctest", "--test-dir", str(build), "-j", str(args.jobs), "--timeout", str(args.timeout),
                "--stop-on-failure", "--output-on-failure"]
    if run(build_cmd, tree, logs / "baseline-build.log") != 0:
        sys.exit(f"the unmutated copy does not build: {logs / 'baseline-build.log'}")
    programs = test_programs(build, args.exclude)
    all_programs = set().union(*programs.values()) if programs else set()
    t0 = time.monotonic()
    if run(test_cmd + only(programs), tree, logs / "baseline-test.log") != 0:
        sys.exit(f"the suite fails without any mutant: {logs / 'baseline-test.log'}")
    print(f"baseline: built and tested in {time.monotonic() - started:.0f} s (suite {time.monotonic() - t0:.0f} s)",
          flush=True)
    # A test can only see a mutant through a program that the mutant's
    # build relinked: the others are the programs the suite just passed
    # with. So each mutant runs the tests whose programs changed (all of
    # them with --every-test).

    # Mutants of one file one after the other: restoring a file costs a
    # rebuild of its dependents, paid once per file instead of per mutant.
    order = sorted(selected, key=lambda m: (m.file, selected.index(m)))
    results = []
    for i, m in enumerate(order, start=1):
        t = time.monotonic()
        detail = ""
        if "equivalent" in m.fields and not args.run_equivalent:
            status = "equivalent"
            detail = m.fields["equivalent"]
        else:
            path = tree / m.file
            text = path.read_text(encoding="utf-8") if path.is_file() else None
            mutated, why = apply(text, m) if text is not None else (None, "file not found")
            if mutated is None:
                status, detail = "not applicable", why
            else:
                try:
                    path.write_text(mutated, encoding="utf-8")
                    before = time.time()
                    status, detail = test_mutant(m, build_cmd, test_cmd, tree, logs, before, programs,
                                                 all_programs, args.every_test)
                finally:
                    path.write_text(text, encoding="utf-8")
        results.append((m, status, detail))
        print(f"[{i}/{len(order)}] {m.name}: {status}" + (f" ({detail})" if detail else "") +
              f"  {time.monotonic() - t:.0f} s", flush=True)

    # Leave the copy built as the repository is, for the next run.
    run(build_cmd, tree, logs / "restore-build.log")

    counts = {}
    for _, status, _ in results:
        counts[status] = counts.get(status, 0) + 1
    killed = counts.get("killed", 0)
    survived = counts.get("survived", 0)
    lines = ["| mutant | kind | file | result | detail |", "|---|---|---|---|---|"]
    for m, status, detail in results:
        lines.append(f"| {m.name} | {m.fields['kind']} | {m.file} | {status} | {detail} |")
    summary = ", ".join(f"{k} {v}" for k, v in sorted(counts.items()))
    score = f"{100.0 * killed / (killed + survived):.1f}%" if killed + survived else "n/a"
    lines.append("")
    lines.append(f"{len(results)} mutants: {summary}; score {score} (killed / (killed + survived)); "
                 f"{time.monotonic() - started:.0f} s")
    print("\n".join(lines))
    if args.report:
        Path(args.report).write_text("\n".join(lines) + "\n", encoding="utf-8")
    unexplained = [m.name for m, status, _ in results if status == "survived" and "accepted" not in m.fields]
    bad = [m.name for m, status, _ in results if status in ("not applicable", "build failed")]
    if bad:
        print(f"catalogue entries to repair: {', '.join(bad)}")
    if unexplained:
        print(f"survivors without a reason: {', '.join(unexplained)}")
    return 1 if unexplained or bad else 0


if __name__ == "__main__":
    sys.exit(main())
