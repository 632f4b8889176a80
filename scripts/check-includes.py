#!/usr/bin/env python3
"""Fails on any #include that scripts/include-rules does not allow, naming file and line.

Every C or C++ file under src/ and host/ is read. A file is judged by the rules of the most
specific folder of the table that holds it; its file rules (specific_include_rules) are
added to them. An include is written as the table matches it: "common/text.h" for a quoted
one, <windows.h> for an angle one. The rule whose text is the longest prefix of the include
decides: + allows, - forbids; no matching rule forbids. Always allowed: the C++ standard
headers (an angle name without a dot or a slash) and a quoted name without a slash that is
a file beside the including one.

    scripts/check-includes.py [--rules FILE] [ROOT]
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCES = (".c", ".cc", ".h")
SCANNED = ("src", "host")


def fail(message):
    print("check-includes: " + message, file=sys.stderr)
    sys.exit(2)


def read_rules(path):
    """Returns ({folder: [rule]}, {file: [rule]}) from the table; a rule is (sign, prefix)."""
    folders, files, section = {}, {}, None
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            text = line.split("#", 1)[0].strip()
            where = "%s:%d" % (path, number)
            if not text:
                continue
            if text in ("[include_rules]", "[specific_include_rules]"):
                section = folders if text == "[include_rules]" else files
                continue
            if section is None:
                fail(where + ": a rule before [include_rules] or [specific_include_rules]")
            if ":" not in text:
                fail(where + ": expected 'path: +prefix -prefix ...'")
            target, rules = (part.strip() for part in text.split(":", 1))
            if section is files and "#" not in line:
                fail(where + ": an exception needs its reason in a comment")
            parsed = []
            for rule in rules.split():
                if rule[0] not in "+-" or len(rule) == 1:
                    fail(where + ": rule %r is not +prefix or -prefix" % rule)
                parsed.append((rule[0], rule[1:]))
            section.setdefault(target.rstrip("/"), []).extend(parsed)
    return folders, files


def rules_for(path, folders, files):
    folder = os.path.dirname(path)
    while folder and folder not in folders:
        folder = os.path.dirname(folder)
    if not folder:
        return None
    return folders[folder] + files.get(path, [])


def allowed(written, rules):
    best = None
    for sign, prefix in rules:
        if written.startswith(prefix) and (best is None or len(prefix) > len(best[1])):
            best = (sign, prefix)
    return best is not None and best[0] == "+"


def check(root, rules_path):
    folders, files = read_rules(rules_path)
    for path in files:
        if not os.path.isfile(os.path.join(root, path)):
            fail("%s names %s, which does not exist" % (rules_path, path))
    faults = scanned = 0
    for top in SCANNED:
        for directory, _, names in sorted(os.walk(os.path.join(root, top))):
            for name in sorted(names):
                if not name.endswith(SOURCES):
                    continue
                full = os.path.join(directory, name)
                path = os.path.relpath(full, root)
                rules = rules_for(path, folders, files)
                if rules is None:
                    print("%s: no folder of the include rules holds this file" % path)
                    faults += 1
                    continue
                scanned += 1
                with open(full, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        quote, name_written = match.groups()
                        if quote == "<" and "." not in name_written and "/" not in name_written:
                            continue
                        if (quote == '"' and "/" not in name_written and
                                os.path.isfile(os.path.join(directory, name_written))):
                            continue
                        written = name_written if quote == '"' else "<%s>" % name_written
                        if not allowed(written, rules):
                            print("%s:%d: includes %s, which the include rules do not allow"
                                  % (path, number, written))
                            faults += 1
    return faults, scanned


def main(argv):
    args = argv[1:]
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    rules_path = None
    if len(args) >= 2 and args[0] == "--rules":
        rules_path, args = args[1], args[2:]
    if args:
        root = args[0]
    rules_path = rules_path or os.path.join(root, "scripts", "include-rules")
    faults, scanned = check(root, rules_path)
    if faults:
        print("check-includes: %d include(s) break the rules in %s" % (faults, rules_path),
              file=sys.stderr)
        return 1
    print("check-includes: %d files keep the include rules" % scanned)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
