#!/usr/bin/env python3
"""Mutation testing for Quillmar: how many plausible bugs does the test suite catch?

Reads the committed list of mutants (tools/mutants.txt), copies the tree to a scratch folder,
builds it once, then for each mutant: replaces the one original line by its replacement, rebuilds
incrementally, runs the test executables (the mutated layer's own first, stopping at the first
failure), and puts the line back. A mutant is "killed" when a test fails, "survived" when every
test passes, and "no-build" when it does not compile (reported, not counted).

    ./dev mutate                 # every mutant
    tools/mutate.py --only 3,7   # some of them (numbers as printed)
    tools/mutate.py --list       # check the list against the tree without building
    tools/mutate.py --layer ops --own   # the mutants of ops/, against ops' own tests only

The list: blocks separated by blank lines, one "key: value" per line, keys file, function,
original, replacement, why. "original" is one source line without its indentation; it must occur
in the named function (the first line at or after the function's name that matches).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
KEYS = ("file", "function", "original", "replacement", "why")
# The test executables, and the layer whose tests run first for a mutant in that folder. The
# window's test (Qt Test, not GoogleTest) runs last, and first for the window's own mutants.
TEST_BINARIES = ["test_base", "test_disk", "test_format", "test_drives", "test_ops", "test_cli",
                 "test_kernel", "gui_window_test"]
OWN_TESTS = {"gui": "gui_window_test"}


def read_mutants(path):
    mutants, block = [], {}
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.rstrip("\n")
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                mutants.append(block)
                block = {}
            continue
        key, sep, value = line.partition(": ")
        if not sep or key not in KEYS:
            sys.exit(f"{path}:{number}: expected 'key: value' with a key of {', '.join(KEYS)}")
        block[key] = value.strip()
    if block:
        mutants.append(block)
    for index, mutant in enumerate(mutants, 1):
        missing = [k for k in KEYS if k not in mutant]
        if missing:
            sys.exit(f"mutant {index}: missing {', '.join(missing)}")
    return mutants


def locate(tree, mutant):
    """The index of the line to mutate, or an error text."""
    path = tree / mutant["file"]
    if not path.is_file():
        return None, f"no file {mutant['file']}"
    lines = path.read_text().splitlines()
    start = next((i for i, l in enumerate(lines) if mutant["function"] + "(" in l), None)
    if start is None:
        return None, f"function {mutant['function']} not found in {mutant['file']}"
    for i in range(start, len(lines)):
        if lines[i].strip() == mutant["original"]:
            return i, None
    return None, f"original line not found after {mutant['function']}"


def apply(tree, mutant, index):
    path = tree / mutant["file"]
    text = path.read_text()
    lines = text.splitlines(keepends=True)
    line = lines[index]
    indent = line[: len(line) - len(line.lstrip())]
    ending = "\n" if line.endswith("\n") else ""
    lines[index] = indent + mutant["replacement"] + ending
    path.write_text("".join(lines))
    return text


def run(command, cwd, timeout, env=None):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, env=env)
        return done.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def copy_tree(scratch):
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True,
                           check=True).stdout.split()
    source = scratch / "src"
    # Files gone from the tree go from the copy too: the build picks up sources by folder.
    if source.is_dir():
        kept = {source / name for name in files}
        for stale in [p for p in source.rglob("*") if p.is_file() and p not in kept]:
            stale.unlink()
    for name in files:
        target = source / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if not target.exists() or target.read_bytes() != (ROOT / name).read_bytes():
            shutil.copy(ROOT / name, target)  # a new time: the build sees the change
    return source


def test_order(mutant, build, own=False):
    folder = mutant["file"].split("/")[0]
    layer = OWN_TESTS.get(folder, "test_" + folder)
    names = [layer] if own else sorted(TEST_BINARIES, key=lambda n: n != layer)
    # Folders with rules of their own build their test program in a folder of their own.
    return [next((build / "tests").rglob(n), build / "tests" / n) for n in names]


def run_tests(mutant, build, timeout, own=False):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
               XDG_CONFIG_HOME=str(build / "tests" / "gui" / "config"))
    for binary in test_order(mutant, build, own):
        if not binary.exists():
            continue
        flags = [] if binary.name in OWN_TESTS.values() else ["--gtest_fail_fast", "--gtest_brief=1"]
        result = run([str(binary)] + flags, build, timeout, env)
        if result != 0:
            return f"killed by {binary.name}" + (" (timeout)" if result == "timeout" else "")
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mutants", type=Path, default=ROOT / "tools" / "mutants.txt")
    parser.add_argument("--scratch", type=Path, default=ROOT / "build-mutate")
    parser.add_argument("--only", help="comma-separated mutant numbers")
    parser.add_argument("--layer", help="comma-separated folders: only the mutants in them")
    parser.add_argument("--own", action="store_true",
                        help="run only the mutated folder's own test program")
    parser.add_argument("--list", action="store_true", help="only check that every line is found")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test executable")
    args = parser.parse_args()

    mutants = read_mutants(args.mutants)
    chosen = range(1, len(mutants) + 1)
    if args.only:
        chosen = [int(n) for n in args.only.split(",")]
    if args.layer:
        layers = args.layer.split(",")
        chosen = [n for n in chosen if mutants[n - 1]["file"].split("/")[0] in layers]

    if args.list:
        bad = 0
        for n in chosen:
            index, error = locate(ROOT, mutants[n - 1])
            if error:
                bad += 1
                print(f"{n:3} {mutants[n - 1]['file']}: {error}")
        print(f"{len(chosen) - bad} of {len(chosen)} mutants found in the tree")
        return 1 if bad else 0

    args.scratch.mkdir(parents=True, exist_ok=True)
    source = copy_tree(args.scratch)
    build = args.scratch / "build"
    # The window is built when Qt is there (./dev installs it); its test then runs too.
    generator = [] if (build / "build.ninja").exists() else ["-G", "Ninja"]
    subprocess.run(["cmake", "-S", source, "-B", build, *generator,
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DQUILLMAR_GUI=ON",
                    "-DQUILLMAR_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    print("building the unmutated tree ...", flush=True)
    if run(["cmake", "--build", build], source, 3600) != 0:
        sys.exit("the unmutated tree does not build")
    clean = run_tests({"file": "ops/"}, build, args.timeout)
    if clean:
        sys.exit(f"the unmutated tree fails its tests ({clean}); fix that first")

    killed = survived = unbuilt = missing = 0
    survivors = []
    started = time.monotonic()
    for n in chosen:
        mutant = mutants[n - 1]
        where = f"{mutant['file']} {mutant['function']}"
        index, error = locate(source, mutant)
        if error:
            missing += 1
            print(f"{n:3} MISSING   {where}: {error}", flush=True)
            continue
        original = apply(source, mutant, index)
        try:
            if run(["cmake", "--build", build], source, 1800) != 0:
                unbuilt += 1
                print(f"{n:3} NO-BUILD  {where}", flush=True)
                continue
            verdict = run_tests(mutant, build, args.timeout, args.own)
            if verdict:
                killed += 1
                print(f"{n:3} KILLED    {where} ({verdict})", flush=True)
            else:
                survived += 1
                survivors.append((n, mutant))
                print(f"{n:3} SURVIVED  {where}: {mutant['why']}", flush=True)
        finally:
            (source / mutant["file"]).write_text(original)
    # Leave the scratch build matching the tree for the next run.
    run(["cmake", "--build", build], source, 3600)

    counted = killed + survived
    rate = 100.0 * killed / counted if counted else 0.0
    minutes = (time.monotonic() - started) / 60
    print(f"\nkill rate: {killed}/{counted} = {rate:.1f}%  "
          f"({unbuilt} did not build, {missing} not found; {minutes:.1f} min)")
    for n, mutant in survivors:
        print(f"  survivor {n}: {mutant['file']} {mutant['function']}: "
              f"{mutant['original']}  ->  {mutant['replacement']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
