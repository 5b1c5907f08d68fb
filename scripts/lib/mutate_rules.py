#!/usr/bin/env python3
"""Faults planted by rule, not by choice: scripts/mutate --rule.

Every line of the code asked for (the lines changed since a revision, or whole files) is
looked at with a few rules that make the small mistakes people make: a comparison turned
to its neighbour, && and || swapped, a boolean constant flipped, a + 1 or - 1 dropped or
added at a boundary, a call statement removed, a returned value replaced by its type's
default, a condition forced true or false. A sample of them is planted one at a time in a
scratch clone of the committed tree; each is built, and the tests that run its line go
first, then the others that run its file, quickest first, two at a time, stopping at the
first failure; only the programs those tests run are built again for each fault. Which
test runs which line is measured once per version of the code (a change to the tests alone
keeps it) in a build with coverage (cached in ~/.cache/ostraloader); a test that never runs
the file cannot tell the fault and is not run, and one written since the map was measured
runs last. A fault no test notices survived.

Faults that do not build, and those found to change nothing a user could see (logging, an
equivalent form), are kept in scripts/mutate-setaside.txt with the reason, so later runs
pass over them.
"""
import argparse
import hashlib
import json
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SETASIDE = ROOT / "scripts" / "mutate-setaside.txt"

KEYWORDS = ("return", "if", "while", "for", "switch", "case", "delete", "throw", "break",
            "continue", "else", "do", "goto", "new", "using", "typedef", "static_assert")


def masked(line):
    """The line with its string and character literals blanked and its comment cut, so the
    rules see code alone; positions stay those of the original line."""
    out, quote, escape = [], None, False
    for i, c in enumerate(line):
        if quote:
            out.append(c if c == quote and not escape else " ")
            escape = c == "\\" and not escape
            if c == quote and not escape:
                quote = None
            continue
        if c in "\"'":
            quote = c
            out.append(c)
            continue
        if line.startswith("//", i):
            break
        out.append(c)
    return "".join(out)


def balanced(text):
    depth = 0
    for c in text:
        depth += c == "("
        depth -= c == ")"
        if depth < 0:
            return False
    return depth == 0


def condition_span(code, start):
    """The span of the parenthesised condition whose '(' is at `start`, or None."""
    depth = 0
    for i in range(start, len(code)):
        depth += code[i] == "("
        depth -= code[i] == ")"
        if depth == 0:
            return start + 1, i
    return None


def mutations(line):
    """(rule, mutated line) for each fault the rules make of one line."""
    code = masked(line)
    stripped = code.strip()
    if not stripped or stripped.startswith(("#", "//", "*", "/*")):
        return []
    found = []

    def at(span, text, rule):
        found.append((rule, line[: span[0]] + text + line[span[1]:]))

    for op, new in (("<", "<="), ("<=", "<"), (">", ">="), (">=", ">"), ("==", "!="),
                    ("!=", "==")):
        for m in re.finditer(r"(?<=\S) %s (?=\S)" % re.escape(op), code):
            at((m.start() + 1, m.end() - 1), new, "comparison %s to %s" % (op, new))
    for op, new in (("&&", "||"), ("||", "&&")):
        for m in re.finditer(r" %s " % re.escape(op), code):
            at((m.start() + 1, m.end() - 1), new, "%s to %s" % (op, new))
    for word, new in (("true", "false"), ("false", "true")):
        for m in re.finditer(r"\b%s\b" % word, code):
            at(m.span(), new, "%s to %s" % (word, new))
    for m in re.finditer(r" [+-] 1\b(?![.\d])", code):
        at(m.span(), "", "%s dropped" % m.group().strip())
    for m in re.finditer(r" (<|<=|>|>=) ([A-Za-z_][\w.]*|\d+)(?=\)| &&| \|\||;|$)", code):
        at((m.end(), m.end()), " + 1", "+ 1 added at a boundary")
    indent = line[: len(line) - len(line.lstrip())]
    call = re.match(r"\s*([A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*)\s*\((.*)\);\s*$", code)
    if call and call.group(1).split("::")[-1] not in KEYWORDS and balanced(call.group(2)):
        found.append(("call removed", indent + "(void)0;"))
    ret = re.match(r"\s*return (.+);\s*$", code)
    if ret and ret.group(1).strip() not in ("{}", "true", "false", "nullptr", "0"):
        found.append(("returned value to its default", indent + "return {};"))
    for keyword, forced in (("if", ("true", "false")), ("while", ("false",))):
        m = re.search(r"\b%s \(" % keyword, code)
        if m:
            span = condition_span(code, m.end() - 1)
            if span and code[span[0]: span[1]].strip() not in forced:
                for value in forced:
                    at(span, value, "%s condition forced %s" % (keyword, value))
    return found


def changed_lines(since, paths):
    """{file: set of line numbers} changed since `since` in HEAD."""
    diff = subprocess.run(["git", "diff", "-U0", since, "HEAD", "--"] + paths, cwd=ROOT,
                          capture_output=True, text=True, check=True).stdout
    lines, current = {}, None
    for row in diff.splitlines():
        if row.startswith("+++ "):
            current = row[6:] if row.startswith("+++ b/") else None
        elif row.startswith("@@") and current:
            m = re.search(r"\+(\d+)(?:,(\d+))?", row)
            first, count = int(m.group(1)), int(m.group(2) or 1)
            lines.setdefault(current, set()).update(range(first, first + count))
    return lines


def source_files(paths):
    listed = subprocess.run(["git", "ls-files", "--"] + (paths or ["."]), cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout.split()
    return [f for f in listed if f.endswith((".cpp", ".h"))
            and not f.startswith(("tests/", "bench/", "fuzz/"))]


def load_setaside():
    kept = set()
    if SETASIDE.exists():
        for row in SETASIDE.read_text().splitlines():
            parts = row.split("\t")
            if len(parts) >= 3 and not row.startswith("#"):
                kept.add(tuple(parts[:3]))
    return kept


def set_aside(fault, reason):
    with SETASIDE.open("a") as out:
        out.write("\t".join([fault["file"], fault["line"].strip(), fault["mutated"].strip(),
                             reason]) + "\n")


def candidates(args):
    files = source_files(args.paths)
    changed = changed_lines(args.since, files) if args.since else None
    kept = load_setaside()
    found = []
    for f in files:
        text = (ROOT / f).read_text(errors="replace").split("\n")
        wanted = changed.get(f, set()) if changed is not None else range(1, len(text) + 1)
        for number in sorted(wanted):
            if number > len(text):
                continue
            line = text[number - 1]
            for rule, mutated in mutations(line):
                key = (f, line.strip(), mutated.strip())
                if key not in kept:
                    found.append({"file": f, "number": number, "line": line,
                                  "mutated": mutated, "rule": rule})
    return found


def ctest_names(build):
    listing = subprocess.run(["ctest", "-N"], cwd=build, capture_output=True, text=True,
                             check=True).stdout
    return re.findall(r"Test\s+#\d+: (\S+)", listing)


def executed_lines(build, src):
    """{file: set(lines)} the last test executed, from the .gcda files its processes left."""
    gcdas = [str(p) for p in Path(build).rglob("*.gcda")]
    lines = {}
    for at in range(0, len(gcdas), 50):
        out = subprocess.run(["gcov", "--json-format", "--stdout"] + gcdas[at:at + 50],
                             cwd=build, capture_output=True, text=True).stdout
        for document in out.splitlines():
            try:
                report = json.loads(document)
            except ValueError:
                continue
            for f in report.get("files", []):
                name = os.path.relpath(os.path.join(build, f["file"]), src) \
                    if not os.path.isabs(f["file"]) else os.path.relpath(f["file"], src)
                if name.startswith(".."):
                    continue
                hit = {l["line_number"] for l in f["lines"] if l["count"] > 0}
                lines.setdefault(name, set()).update(hit)
    for g in gcdas:
        os.unlink(g)
    return lines


def code_version(src):
    """A name for the code apart from its tests: the coverage map is measured again only
    when that changes, not for every commit that touches a test."""
    listing = subprocess.run(["git", "ls-tree", "-r", "HEAD"], cwd=src, capture_output=True,
                             text=True, check=True).stdout
    code = [l for l in listing.splitlines() if not re.search(r"\t(tests|fuzz|bench|docs)/", l)]
    return hashlib.sha1("\n".join(code).encode()).hexdigest()


def test_targets(build):
    """{test: the programs it runs}, from ctest's own listing, so that a fault builds only
    what the tests that may catch it run."""
    listing = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build,
                                        capture_output=True, text=True, check=True).stdout)
    targets = {}
    for test in listing.get("tests", []):
        programs = {Path(arg).name for arg in test.get("command", [])
                    if str(arg).startswith(str(build)) and os.access(arg, os.X_OK)}
        targets[test["name"]] = sorted(programs)
    return targets


def coverage(src, scratch, commit):
    """Which lines each test executes, and how long it takes: measured once per version of
    the code in a build with coverage (cached), so that a fault is tried only by tests that
    reach it."""
    cache = Path.home() / ".cache" / "ostraloader" / ("mutate-coverage-%s.json" % commit)
    if cache.exists():
        return json.loads(cache.read_text())
    build = scratch / "coverage"
    print("== measuring which tests run which lines (once for %s)" % commit[:12], flush=True)
    subprocess.run(["cmake", "-S", str(src), "-B", str(build), "-DCMAKE_BUILD_TYPE=Debug",
                    "-DOSTRA_BENCH=OFF", "-DCMAKE_CXX_FLAGS=--coverage",
                    "-DCMAKE_EXE_LINKER_FLAGS=--coverage"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "-j%d" % os.cpu_count()], check=True,
                   stdout=subprocess.DEVNULL)
    tests = {}
    for name in ctest_names(build):
        for g in Path(build).rglob("*.gcda"):
            g.unlink()
        started = time.time()
        subprocess.run(["ctest", "-R", "^%s$" % re.escape(name), "--timeout", "300"], cwd=build,
                       capture_output=True)
        seconds = time.time() - started
        lines = executed_lines(build, src)
        tests[name] = {"seconds": seconds,
                       "lines": {f: sorted(l) for f, l in lines.items()}}
    cache.parent.mkdir(parents=True, exist_ok=True)
    cache.write_text(json.dumps(tests))
    return tests


def run_tests(build, names, log):
    """Runs the tests two at a time, quickest first; the first that fails, or None."""
    pending, running = list(names), []
    failed = None
    while (pending or running) and not failed:
        while pending and len(running) < (os.cpu_count() or 2):
            name = pending.pop(0)
            running.append((name, subprocess.Popen(
                ["ctest", "-R", "^%s$" % re.escape(name), "--timeout", "150",
                 "--output-on-failure"], cwd=build, stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT, text=True)))
        time.sleep(0.05)
        for entry in list(running):
            name, process = entry
            if process.poll() is not None:
                running.remove(entry)
                output = process.stdout.read()
                if process.returncode != 0:
                    log.write(output)
                    failed = name
    for name, process in running:
        process.kill()
        process.wait()
    return failed


def tests_for(fault, tests, names):
    """The tests that run the fault's line, then the others that run its file, each group
    quickest first, then those the map does not know yet (written since it was measured).
    A test the map knows that never runs the file cannot tell the fault."""
    f, number = fault["file"], fault["number"]
    line = [n for n, t in tests.items() if number in t["lines"].get(f, ())]
    rest = [n for n, t in tests.items() if t["lines"].get(f) and n not in line]
    new = [n for n in names if n not in tests]
    by_time = lambda n: tests[n]["seconds"]
    return sorted(line, key=by_time), sorted(rest, key=by_time) + new


def main():
    parser = argparse.ArgumentParser(prog="scripts/mutate --rule")
    parser.add_argument("--since", help="only the lines changed since this revision")
    parser.add_argument("--sample", type=int, default=0, help="plant this many (0: all)")
    parser.add_argument("--seed", type=int, default=44, help="the sample's seed")
    parser.add_argument("--start", type=int, default=1,
                        help="begin at this fault of the sample (to go on with a stopped run)")
    parser.add_argument("--list", action="store_true", help="list the faults, plant none")
    parser.add_argument("paths", nargs="*", help="files or folders (default: every one)")
    args = parser.parse_args()
    faults = candidates(args)
    total = len(faults)
    if args.sample and args.sample < total:
        faults = random.Random(args.seed).sample(faults, args.sample)
        faults.sort(key=lambda f: (f["file"], f["number"]))
    print("== %d faults by rule, %d planted" % (total, len(faults)), flush=True)
    if args.list:
        for n, f in enumerate(faults, 1):
            print("%d. %s:%d %s: %s" % (n, f["file"], f["number"], f["rule"], f["mutated"].strip()))
        return 0
    scratch = Path(subprocess.run(["mktemp", "-d", "/tmp/ostra-rule-XXXXXX"], capture_output=True,
                                  text=True, check=True).stdout.strip())
    src, build = scratch / "src", scratch / "build"
    subprocess.run(["git", "clone", "-q", str(ROOT), str(src)], check=True)
    commit = subprocess.run(["git", "rev-parse", "HEAD"], cwd=src, capture_output=True,
                            text=True, check=True).stdout.strip()
    tests = coverage(src, scratch, code_version(src))
    subprocess.run(["cmake", "-S", str(src), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DOSTRA_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    print("== building the clean tree", flush=True)
    subprocess.run(["cmake", "--build", str(build), "-j%d" % os.cpu_count()], check=True,
                   stdout=subprocess.DEVNULL)
    names, targets = ctest_names(build), test_targets(build)
    caught = built = 0
    survivors = []
    started = time.time()
    with open(scratch / "tests.log", "w") as log:
        for n, f in enumerate(faults, 1):
            if n < args.start:
                continue
            target = src / f["file"]
            original = target.read_text()
            lines = original.split("\n")
            lines[f["number"] - 1] = f["mutated"]
            target.write_text("\n".join(lines))
            where = "%s:%d" % (f["file"], f["number"])
            what = "%s: `%s` -> `%s`" % (f["rule"], f["line"].strip(), f["mutated"].strip())
            line_tests, file_tests = tests_for(f, tests, names)
            # Only the programs those tests run (and what they depend on) are built again.
            needed = sorted({p for n in line_tests + file_tests for p in targets.get(n, ())})
            made = subprocess.run(["cmake", "--build", str(build), "-j%d" % os.cpu_count()] +
                                  (["--target"] + needed if needed else []),
                                  capture_output=True, text=True)
            if made.returncode != 0:
                set_aside(f, "does not build")
                verdict = "does not build (set aside)"
            else:
                built += 1
                failed = run_tests(build, line_tests + file_tests, log)
                if failed:
                    caught += 1
                    verdict = "caught by " + failed
                else:
                    survivors.append("%s %s" % (where, what))
                    verdict = "SURVIVED" + ("" if line_tests else " (no test runs this line)")
            target.write_text(original)
            print("%d. %s %s: %s" % (n, where, what, verdict), flush=True)
    minutes = (time.time() - started) / 60
    planted = len(faults) - (args.start - 1)
    print("caught %d/%d by rule (%d did not build) in %.0f min" % (caught, built, planted - built,
                                                                    minutes))
    for s in survivors:
        print("survived: " + s)
    subprocess.run(["rm", "-rf", str(scratch)])
    return 0


if __name__ == "__main__":
    sys.exit(main())
