#!/usr/bin/env python3
"""Mutation sampler: plants one small fault at a time in the agent's sources, rebuilds the Linux
test suites incrementally, runs them, restores the file, and reports which faults the suites
caught.

  scripts/mutation.py --seed 1 --sample 200 [FOLDER...]
  scripts/mutation.py --list [FOLDER...]          every candidate, numbered, nothing built
  scripts/mutation.py --only ID [--only ID...]    replay candidates by their number
  scripts/mutation.py --carry LOG --carry-commit REV   a run that takes a previous run's kills

Faults (one per mutant): comparison and logical operators swapped (== !=, && ||), relational
bounds moved (< <=, > >=), integer constants moved by one, true and false swapped, increments
reversed (++ --), and a statement deleted. Candidates come from the .cc files of the folders
(default: the agent's core); text inside strings, characters and comments is never touched, nor
preprocessor lines and static_asserts. Candidates are numbered in file order and drawn in an
order fixed by the seed and by each candidate's own text: its file, the line it sits on (as
written, not its number), which of the file's lines of that text it is, its column and the
fault. An edit to the code therefore moves only the candidates of the lines it touches: the
rest of a sample stays where it was, so runs on different commits can be compared mutant by
mutant. A mutant that does not compile is skipped and does not count,
so a sample of N is N compiling mutants. Nor does one whose object code is the agent's own (the
debug information set aside): the compiler made the same program of it, so no test could tell
the two apart; such mutants are printed as "same object code" and counted apart.

A mutant is killed when a suite fails (or runs past the time-out), survived when every test
passes; a killed mutant is printed with the first test that failed. The suites run as the test
command runs them: first the `linux` preset's build, then, for a mutant that build lets through,
the `asan` preset's (AddressSanitizer, LeakSanitizer and UBSan, with that preset's options), since
a fault only the sanitizers see still fails the test command. The score of a folder is
killed / (killed + survived). The builds are configured apart under build/mutation and
build/mutation-asan so that the ordinary builds stay as they are; the source file is restored
after each mutant, also when the sampler is interrupted. The
sampler edits the sources of its own checkout in place: run it in a checkout nobody else is
editing or building from (a `git worktree` of its own).
"""
import argparse
import hashlib
import json
import os
import re
import signal
import subprocess
import sys
import time
from collections import OrderedDict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FOLDERS = ["src/service", "src/collect", "src/model", "src/discovery", "src/publish",
                   "src/trap", "src/vendor", "src/inventory"]
SUITES = ["crv_unit_tests", "crv_scenario_tests"]

# Binary operators as clang-format spaces them; templates and pointers are never spaced so.
SWAPS = OrderedDict([(" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && "),
                     (" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > ")])
KIND_OF = {" == ": "comparison", " != ": "comparison", " && ": "logical", " || ": "logical",
           " < ": "bound", " <= ": "bound", " > ": "bound", " >= ": "bound"}
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])")
BOOLEAN = re.compile(r"\b(true|false)\b")
INCREMENT = re.compile(r"\+\+|--")
FAILED_TEST = re.compile(r"^\[  FAILED  \] ([^\s,]+)", re.M)
RUNNING_TEST = re.compile(r"^\[ RUN      \] (\S+)", re.M)
STATEMENT = re.compile(r"^\s+(?!return\b|case\b|default\b|break\b|continue\b|goto\b)"
                       r"[A-Za-z_][\w:.\->\[\]*&]*(\(.*\)|\s*[-+*/|&]?=\s*.+);\s*$")


def code_mask(lines):
    """For each line, a string of the same length: 'c' where the character is code, ' ' inside
    strings, character literals and comments."""
    masks = []
    in_block = False
    for line in lines:
        mask = []
        i = 0
        quote = None
        while i < len(line):
            ch = line[i]
            if in_block:
                mask.append(" ")
                if line.startswith("*/", i):
                    mask.append(" ")
                    i += 2
                    in_block = False
                    continue
            elif quote:
                mask.append(" ")
                if ch == "\\":
                    mask.append(" ")
                    i += 2
                    continue
                if ch == quote:
                    quote = None
            elif line.startswith("//", i):
                mask.extend(" " * (len(line) - i))
                break
            elif line.startswith("/*", i):
                in_block = True
                mask.append(" ")
            elif ch in "\"'" and not (ch == "'" and i > 0 and line[i - 1].isalnum()):
                quote = ch
                mask.append(" ")
            else:
                mask.append("c")
            i += 1
        masks.append("".join(mask)[:len(line)].ljust(len(line)))
    return masks


def candidates_in(lines):
    masks = code_mask(lines)
    found = []

    def code_at(n, start, end):
        return masks[n][start:end] == "c" * (end - start)

    for n, line in enumerate(lines):
        stripped = line.strip()
        if (not stripped or stripped.startswith("#") or "static_assert" in line or
                stripped.startswith("//")):
            continue
        for old, new in SWAPS.items():
            for m in re.finditer(re.escape(old), line):
                if code_at(n, m.start(), m.end()):
                    found.append((n, m.start(), old, new, KIND_OF[old]))
        for m in NUMBER.finditer(line):
            if not code_at(n, m.start(), m.end()):
                continue
            text, suffix = m.group(1), m.group(2)
            value = int(text, 16) if text.lower().startswith("0x") else int(text)
            # Numbers inside a constant's own declaration of an array bound still count; a
            # number in a #include or a version string is excluded by the mask above.
            moved = value + 1 if value == 0 else value - 1
            new = (hex(moved) if text.lower().startswith("0x") else str(moved)) + suffix
            found.append((n, m.start(), m.group(0), new, "constant"))
        for m in BOOLEAN.finditer(line):
            if code_at(n, m.start(), m.end()):
                new = "false" if m.group(1) == "true" else "true"
                found.append((n, m.start(), m.group(1), new, "boolean"))
        for m in INCREMENT.finditer(line):
            if code_at(n, m.start(), m.end()):
                new = "--" if m.group(0) == "++" else "++"
                found.append((n, m.start(), m.group(0), new, "increment"))
        if STATEMENT.match(line) and code_at(n, len(line) - len(line.lstrip()), len(line.rstrip())):
            indent = len(line) - len(line.lstrip())
            found.append((n, indent, line.strip(), "", "statement"))
    return found


def source_files(folders, commit=None):
    """The .cc files of the folders as (path, lines), by folder, then directory, then name:
    from the checkout, or as they were at commit."""
    for folder in folders:
        if commit is None:
            paths = [os.path.relpath(os.path.join(directory, name), ROOT)
                     for directory, _, names in os.walk(os.path.join(ROOT, folder))
                     for name in names if name.endswith(".cc")]
        else:
            out = subprocess.run(["git", "ls-tree", "-r", "--name-only", commit, "--", folder],
                                 cwd=ROOT, capture_output=True, text=True, check=True).stdout
            paths = [p for p in out.split() if p.endswith(".cc")]
        for path in sorted(paths, key=lambda p: (os.path.dirname(p), os.path.basename(p))):
            if commit is None:
                with open(os.path.join(ROOT, path), encoding="utf-8") as f:
                    text = f.read()
            else:
                text = subprocess.run(["git", "show", "%s:%s" % (commit, path)], cwd=ROOT,
                                      capture_output=True, text=True, check=True).stdout
            yield path, text.split("\n")


def all_candidates(folders, commit=None):
    """Every candidate of the folders, numbered in file order, and each one's identity: its
    file, the text of its line, which of the file's lines of that text it is, its column and
    its fault. An identity does not change when other lines do."""
    candidates, names, seen = [], [], {}
    for path, lines in source_files(folders, commit):
        for c in candidates_in(lines):
            line, column, old, new = c[:4]
            key = (path, lines[line].strip(), column, old, new)
            occurrence = seen.get(key, 0)
            seen[key] = occurrence + 1
            candidates.append((path,) + c)
            names.append("\0".join([path, key[1], str(occurrence), str(column), old, new]))
    return candidates, names


def draw_order(names, seed):
    """Candidate numbers sorted by a hash of the seed and each candidate's identity, so that an
    edit elsewhere in the code (lines added, candidates removed) leaves the order of the others
    as it was."""
    keys = [hashlib.sha256(("%d\0%s" % (seed, n)).encode("utf-8")).hexdigest() for n in names]
    return sorted(range(len(names)), key=lambda i: keys[i])


def carried_fates(log, commit, folders):
    """The fates a run on commit printed in log, by candidate identity."""
    _, names = all_candidates(folders, commit)
    fates = {}
    with open(log, encoding="utf-8") as f:
        for entry in f:
            m = re.match(r"#(\d+) \S+ .* : (.+)$", entry.strip())
            if m and int(m.group(1)) < len(names):
                fates[names[int(m.group(1))]] = m.group(2).removesuffix(" (carried)")
    return fates


def describe(index, c):
    path, line, column, old, new, kind = c
    if kind == "statement":
        return "#%d %s:%d %s: delete '%s'" % (index, path, line + 1, kind, old)
    return "#%d %s:%d:%d %s: '%s' -> '%s'" % (index, path, line + 1, column + 1, kind,
                                              old.strip(), new.strip())


class Planted:
    """Applies one mutant to its file and always puts the original back."""

    def __init__(self, candidate):
        self.path = os.path.join(ROOT, candidate[0])
        self.candidate = candidate
        with open(self.path, encoding="utf-8") as f:
            self.original = f.read()

    def __enter__(self):
        _, line, column, old, new, kind = self.candidate
        lines = self.original.split("\n")
        text = lines[line]
        if kind == "statement":
            lines[line] = text[:column] + ";  // deleted"
        else:
            assert text[column:column + len(old)] == old, "stale candidate"
            lines[line] = text[:column] + new + text[column + len(old):]
        self._write("\n".join(lines))
        return self

    def __exit__(self, *exc):
        self._write(self.original)
        return False

    def _write(self, text):
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(text)


def run(command, timeout, env=None):
    try:
        done = subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, env=env)
        return done.returncode, done.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return None, "time-out"


def refuse_local_changes(folders):
    """A sampler stopped without a chance to restore (killed, or the machine restarting) leaves
    its mutant in the file; a later run would count every mutant on top of it."""
    code, out = run(["git", "status", "--porcelain", "--"] + folders, 60)
    if code == 0 and out.strip():
        sys.exit("mutation: the checkout has local changes in the sampled folders; commit or "
                 "restore them first:\n%s" % out)


def failing_test(out):
    """The test a failed suite run names: the one gtest lists as FAILED, else the last one it
    started (a sanitizer ends the process before gtest can list it)."""
    failed = FAILED_TEST.search(out)
    if failed:
        return failed.group(1)
    started = RUNNING_TEST.findall(out)
    return started[-1] if started else None


class Build:
    """One configured build of the suites: its preset, directory and the environment its tests
    run in (the preset's test environment on top of this process's)."""

    def __init__(self, preset, directory):
        self.preset = preset
        self.directory = directory
        with open(os.path.join(ROOT, "CMakePresets.json"), encoding="utf-8") as f:
            presets = json.load(f)
        self.env = dict(os.environ)
        for test_preset in presets.get("testPresets", []):
            if test_preset.get("configurePreset") == preset:
                self.env.update(test_preset.get("environment", {}))

    def configure(self):
        if not os.path.exists(os.path.join(self.directory, "CMakeCache.txt")):
            code, out = run(["cmake", "--preset", self.preset, "-B", self.directory,
                             "-DCRV_BUILD_BENCH=OFF"], 600)
            if code != 0:
                sys.exit("mutation: cannot configure %s:\n%s" % (self.directory, out))
        if not self.build(3600):
            sys.exit("mutation: the unmutated tree does not build in %s" % self.directory)
        for suite in SUITES:
            code, out = self.run_suite(suite, 600, fail_fast=False)
            if code != 0:
                sys.exit("mutation: %s (%s) fails without a mutant:\n%s" %
                         (suite, self.preset, out[-3000:]))

    def build(self, timeout=1200):
        code, _ = run(["cmake", "--build", self.directory, "-j2", "--target"] + SUITES, timeout)
        return code == 0

    def run_suite(self, suite, timeout, fail_fast=True):
        command = [os.path.join(self.directory, "tests", suite)]
        # The sanitizer build lists every test it starts (see failing_test).
        if self.preset != "asan":
            command.append("--gtest_brief=1")
        if fail_fast:
            command.append("--gtest_fail_fast")
        return run(command, timeout, self.env)

    def first_failure(self, timeout):
        """None when every suite passes, else how the first failing one failed."""
        for suite in SUITES:
            code, out = self.run_suite(suite, timeout)
            if code is None:
                return "killed (time-out)"
            if code != 0:
                failed = failing_test(out)
                return "killed by %s" % failed if failed else "killed (%s)" % suite
        return None


def objects_by_source(build):
    """The object files the build makes of each source (one per target that compiles it)."""
    found = {}
    for folder, _, files in os.walk(build):
        for name in files:
            if name.endswith(".cc.o"):
                obj = os.path.join(folder, name)
                # build/<dir>/CMakeFiles/<target>.dir/<rest>.o is made from <dir>/<rest>.
                source = re.sub(r"CMakeFiles/[^/]+\.dir/", "", os.path.relpath(obj, build))[:-2]
                found.setdefault(source, []).append(obj)
    return {source: sorted(objects) for source, objects in found.items()}


def code_of(objects):
    """The objects' bytes without their debug sections (a moved column shows only there)."""
    code = []
    for obj in objects:
        stripped = obj + ".code"
        subprocess.run(["objcopy", "--strip-debug", obj, stripped], check=True)
        with open(stripped, "rb") as f:
            code.append(f.read())
        os.remove(stripped)
    return code


def fate_of(plain, sanitized, timeout, objects, original_code):
    if not plain.build():
        return "uncompilable"
    if objects and code_of(objects) == original_code:
        return "same object code"
    failure = plain.first_failure(timeout)
    if failure:
        return failure
    if sanitized is None:
        return "survived"
    if not sanitized.build():
        return "uncompilable"
    failure = sanitized.first_failure(timeout * 3)
    return failure + " under the sanitizers" if failure else "survived"


def folder_of(path, folders):
    for folder in folders:
        if path.startswith(folder.rstrip("/") + "/"):
            return folder
    return os.path.dirname(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="*", default=DEFAULT_FOLDERS)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sample", type=int, default=200, help="compiling mutants to run")
    parser.add_argument("--list", action="store_true", help="list the candidates and stop")
    parser.add_argument("--only", type=int, action="append", help="run these candidates")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--no-sanitizers", action="store_true",
                        help="count a mutant the plain build lets through as survived")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per suite run")
    parser.add_argument("--carry", metavar="LOG",
                        help="take the kills (and mutants that did not compile or gave the same "
                             "object code) of a previous run's log for candidates whose line is "
                             "unchanged, and run only the others")
    parser.add_argument("--carry-commit", metavar="REV",
                        help="the commit the --carry run was made on")
    args = parser.parse_args()
    if bool(args.carry) != bool(args.carry_commit):
        parser.error("--carry and --carry-commit go together")

    candidates, names = all_candidates(args.folders)
    if args.list:
        for i, c in enumerate(candidates):
            print(describe(i, c))
        print("%d candidates" % len(candidates))
        return 0

    order = args.only if args.only else draw_order(names, args.seed)
    carried = carried_fates(args.carry, args.carry_commit, args.folders) if args.carry else {}
    # An interrupt restores the file through the context manager.
    def interrupted(*_):
        raise KeyboardInterrupt()

    signal.signal(signal.SIGTERM, interrupted)
    refuse_local_changes(args.folders)
    plain = Build("linux", args.build)
    plain.configure()
    sanitized = None if args.no_sanitizers else Build("asan", args.build + "-asan")
    if sanitized:
        sanitized.configure()

    # The unmutated objects of every file, taken while the build is up to date (a mutant's
    # object stays behind its restored source until the next build).
    objects = objects_by_source(args.build)
    original_code = {path: code_of(objects.get(path, []))
                     for path in sorted({c[0] for c in candidates})}

    scores = OrderedDict((f, [0, 0]) for f in args.folders)
    ran = same = 0
    started = time.time()
    for index in order:
        if ran >= (len(order) if args.only else args.sample):
            break
        c = candidates[index]
        fate = carried.get(names[index], "")
        if fate.startswith("killed") or fate in ("uncompilable", "same object code"):
            print("%s : %s (carried)" % (describe(index, c), fate), flush=True)
        else:
            with Planted(c):
                fate = fate_of(plain, sanitized, args.timeout, objects.get(c[0], []),
                               original_code[c[0]])
            print("%s : %s" % (describe(index, c), fate), flush=True)
        if fate == "same object code":
            same += 1
        if fate in ("uncompilable", "same object code"):
            continue
        ran += 1
        score = scores.setdefault(folder_of(c[0], args.folders), [0, 0])
        score[0 if fate.startswith("killed") else 1] += 1
    # Rebuild the restored tree so the build directories match the sources again.
    for build in (plain, sanitized) if sanitized else (plain,):
        build.build(3600)

    print("\nseed %d, %d compiling mutants (and %d of the same object code), %.0f s" %
          (args.seed, ran, same, time.time() - started))
    total_killed = total_survived = 0
    for folder, (killed, survived) in scores.items():
        if killed + survived:
            print("%-16s %3d killed %3d survived  score %.2f" %
                  (folder, killed, survived, killed / (killed + survived)))
        total_killed += killed
        total_survived += survived
    if total_killed + total_survived:
        print("%-16s %3d killed %3d survived  score %.2f" %
              ("all", total_killed, total_survived,
               total_killed / (total_killed + total_survived)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
