#!/usr/bin/python3
"""Generated one-line mutants of the library, and whether the test suite kills them.

    scripts/mutate.py --list [--under src/core]       every mutant, one a line
    scripts/mutate.py --list --seed S --sample N      the mutants a sample takes
    scripts/mutate.py --seed S --sample N [--under src/ati] [--build-dir DIR]
    scripts/mutate.py --keys FILE                      exactly these (file | line text | mutation)

The mutants come mechanically from the C++ files under src/ (the Windows
platform folder left out: the Linux build does not compile it): relational
and equality operators moved by one (< and <=, > and >=, == and !=), && and
||, a condition negated, an integer constant one up or one down, arithmetic,
bitwise and shift operators swapped, true and false, a returned status
replaced by another of its kind, a call statement deleted and two adjacent
arguments of the same apparent type swapped. Comments, string and character
literals, preprocessor lines and assertions are never touched.

A mutant is known by its key: file, the line's text stripped of blanks, and
the mutation; line numbers only help to find it. scripts/mutants-equivalent.txt
lists the mutants that behave exactly like the original; they are left out.

A sample is drawn from every mutant in a stable order (files by name, lines,
then mutations), shuffled with the seed, and the first N that are not
equivalents are taken, so the same seed on the same code gives the same
mutants. Each mutant is applied to a copy of the working tree kept in the
build folder (DIR/tree; the working tree itself is never written;
DIR/tree/build is its build folder, made once with ccache when
there is one), built incrementally, and the tests run, fastest first, until one
fails: the unit tests as one process, the end-to-end tests as one process,
then every CTest test. Each step has a time limit derived from the unmutated
run; a mutant that outlasts it counts as killed by the timeout. The mutated
file is put back after each mutant, also on an error or Ctrl-C; a run killed
outright leaves the original beside the build, and the next run puts it back.
With --in-place the working tree itself is mutated and --build-dir names an
existing build of it (CI's build/, already built: no second build).

Output: one line per mutant (killed by TEST, survived, build fails), then
    mutants: K killed, S survived, B not built, score P%
The exit status is 1 when some mutant survived, 2 when the unmutated tree
does not build or pass, 0 otherwise.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "scripts" / "mutants-equivalent.txt"
SKIPPED_DIRS = ("src/platform/win32/",)
SOURCE_SUFFIXES = (".cpp", ".h")
# Lines left alone: assertions state what must hold, they are not behaviour.
SKIPPED_LINE = re.compile(r"\b(static_assert|assert)\b")


# ---------------------------------------------------------------- lexing

def code_masks(text):
    """Per line, the line with comments, string and character literals
    blanked out (same length), and whether the line is a preprocessor line."""
    out = []
    state = None  # None, "block", or a raw string's closing delimiter
    lines = text.split("\n")
    continued_pp = False
    for line in lines:
        masked = list(line)
        i, n = 0, len(line)
        is_pp = continued_pp or (state is None and line.lstrip().startswith("#"))
        continued_pp = is_pp and line.rstrip().endswith("\\")
        while i < n:
            if state is not None:  # inside a block comment or a raw string
                closer = "*/" if state == "block" else state
                end = line.find(closer, i)
                stop = n if end < 0 else end + len(closer)
                for k in range(i, stop):
                    masked[k] = " "
                i = stop
                if end >= 0:
                    state = None
                continue
            c = line[i]
            if line.startswith("//", i):
                for k in range(i, n):
                    masked[k] = " "
                break
            if line.startswith("/*", i):
                state = "block"
                continue
            m = re.match(r'(?:u8|u|U|L)?R"([^(\s]*)\(', line[i:])
            if m and (i == 0 or not (line[i - 1].isalnum() or line[i - 1] == "_")):
                delim = ")" + m.group(1) + '"'
                start = i
                i += m.end()
                for k in range(start, i):
                    masked[k] = " "
                state = delim
                continue
            if c in "\"'":
                # A digit separator (1'000) is not a character literal.
                if c == "'" and i > 0 and line[i - 1].isalnum() and i + 1 < n and line[i + 1].isalnum() \
                        and re.match(r"[0-9a-fA-FxX']", line[i - 1]):
                    i += 1
                    continue
                j = i + 1
                while j < n and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                for k in range(i, min(j + 1, n)):
                    masked[k] = " "
                i = j + 1
                continue
            i += 1
        out.append(("".join(masked), is_pp))
    return lines, out


def matching_paren(masked, open_at):
    depth = 0
    for k in range(open_at, len(masked)):
        if masked[k] == "(":
            depth += 1
        elif masked[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def split_args(masked, start, end):
    """Top-level comma-separated spans of masked[start:end]."""
    spans, depth, first = [], 0, start
    for k in range(start, end):
        ch = masked[k]
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            spans.append((first, k))
            first = k + 1
    spans.append((first, end))
    return spans


# ------------------------------------------------------------- mutations

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITHMETIC = {"+": "-", "-": "+", "*": "/", "/": "*", "%": "*", "&": "|", "|": "&", "^": "|",
              "<<": ">>", ">>": "<<", "+=": "-=", "-=": "+=", "|=": "&=", "&=": "|="}
LOGICAL = {"&&": "||", "||": "&&"}
# Binary operators written with a blank on both sides, as the code's style
# has them; template brackets, pointers and references never are.
BINARY_OP = re.compile(r"(?<= )(<<|>>|<=|>=|==|!=|&&|\|\||\+=|-=|\|=|&=|[<>+\-*/%&|^])(?= )")
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F']+|\d[\d']*)([uUlL]*)(?![\w.'])")
BOOL = re.compile(r"\b(true|false)\b")
CONDITION = re.compile(r"\b(if|while)\s*\(")
IDENT = r"[A-Za-z_]\w*"
CALL_STATEMENT = re.compile(rf"^\s*(?:{IDENT}(?:::|\.|->))*{IDENT}\s*\(.*\)\s*;\s*$")
SIMPLE_ARG = re.compile(rf"^\s*(?:{IDENT}(?:\.|->|::))*{IDENT}\s*$")
KEYWORDS = {"return", "if", "while", "for", "switch", "sizeof", "case", "delete", "new", "throw",
            "co_return", "static_cast", "reinterpret_cast", "const_cast", "alignof", "decltype"}


def integer_variants(token):
    digits = token.replace("'", "")
    value = int(digits, 16) if digits[:2].lower() == "0x" else int(digits, 10)
    if digits[:2].lower() == "0x":
        width = len(digits) - 2
        upper = not any(ch in "abcdef" for ch in digits[2:])
        fmt = lambda v: digits[:2] + (format(v, f"0{width}X") if upper else format(v, f"0{width}x"))
    else:
        fmt = str
    out = [value + 1]
    if value > 0:
        out.append(value - 1)
    return [fmt(v) for v in out]


def enum_members(files):
    """Enumerations of the library: name -> members in order."""
    enums = {}
    pattern = re.compile(r"enum\s+class\s+(\w+)[^{;]*\{([^}]*)\}", re.S)
    for _, text in files:
        clean = "\n".join(m for m, _ in code_masks(text)[1])
        for m in pattern.finditer(clean):
            members = [re.match(r"\s*(\w+)", part).group(1)
                       for part in m.group(2).split(",") if part.strip()]
            enums[m.group(1)] = members
    return enums


def declared_types(text):
    """name -> declared type, for names declared once in the file."""
    seen = {}
    decl = re.compile(r"\b((?:const\s+)?(?:std::)?[A-Za-z_][\w:]*(?:<[^<>;()]*>)?)\s*([*&]*)\s*"
                      r"(?<=[\s*&])([A-Za-z_]\w*)\s*(?=[=;,){\[])")
    for m in decl.finditer(text):
        kind, name = m.group(1) + m.group(2), m.group(3)
        if kind.split("::")[-1] in KEYWORDS or kind in ("return", "else", "case", "goto"):
            continue
        kind = kind.replace("const ", "")
        seen.setdefault(name, set()).add(kind)
    return {name: next(iter(kinds)) for name, kinds in seen.items() if len(kinds) == 1}


def arg_kind(text, types):
    t = text.strip()
    if re.fullmatch(r"-?(0[xX][0-9a-fA-F]+|\d+)[uUlL]*", t):
        return "integer literal"
    if re.fullmatch(r'"(?:[^"\\]|\\.)*"', t):
        return "string literal"
    if SIMPLE_ARG.match(t):
        last = re.split(r"\.|->|::", t)[-1]
        if last in types:
            return types[last]
    return None


def line_mutants(line, masked, enums, types):
    """(description, mutated line) pairs for one line of code."""
    out = []

    def put(start, end, new, what):
        out.append((what, line[:start] + new + line[end:]))

    for m in BINARY_OP.finditer(masked):
        op = m.group(1)
        for table in (RELATIONAL, LOGICAL, ARITHMETIC):
            if op in table:
                put(m.start(1), m.end(1), table[op], f"{op} -> {table[op]}")
                break
    for m in CONDITION.finditer(masked):
        open_at = m.end() - 1
        close = matching_paren(masked, open_at)
        if close > open_at + 1:
            inner = line[open_at + 1:close]
            out.append((f"{m.group(1)} condition negated",
                        line[:open_at + 1] + "!(" + inner + ")" + line[close:]))
    for m in INTEGER.finditer(masked):
        # Every constant, array bounds included: one that cannot change
        # without breaking the build shows as "build fails".
        for v in integer_variants(m.group(1)):
            put(m.start(1), m.end(1), v, f"{m.group(1)} -> {v}")
    for m in BOOL.finditer(masked):
        new = "false" if m.group(1) == "true" else "true"
        put(m.start(), m.end(), new, f"{m.group(1)} -> {new}")
    ret = re.search(rf"\breturn\s+({IDENT})::({IDENT})\s*;", masked)
    if ret and ret.group(1) in enums:
        members = enums[ret.group(1)]
        if ret.group(2) in members and len(members) > 1:
            x = members.index(ret.group(2))
            alts = [members[0] if x != 0 else members[1], members[(x + 1) % len(members)]]
            done = set()
            for alt in alts:
                if alt != ret.group(2) and alt not in done:
                    done.add(alt)
                    put(ret.start(2), ret.end(2), alt, f"returns {ret.group(1)}::{alt} instead")
    if CALL_STATEMENT.match(masked):
        head = re.match(rf"\s*((?:{IDENT}(?:::|\.|->))*)({IDENT})", masked)
        if head and head.group(2) not in KEYWORDS and not head.group(1).startswith(("std::",)):
            indent = line[:len(line) - len(line.lstrip())]
            out.append(("call deleted", indent + ";"))
    for m in re.finditer(rf"\b({IDENT})\s*\(", masked):
        if m.group(1) in KEYWORDS:
            continue
        open_at = m.end() - 1
        close = matching_paren(masked, open_at)
        if close < 0:
            continue
        spans = split_args(masked, open_at + 1, close)
        for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
            ka = arg_kind(masked[a0:a1], types)
            kb = arg_kind(masked[b0:b1], types)
            a_text, b_text = line[a0:a1].strip(), line[b0:b1].strip()
            if ka and ka == kb and a_text != b_text:
                new = line[:a0] + line[a0:a1].replace(a_text, b_text) + "," \
                    + line[b0:b1].replace(b_text, a_text) + line[b1:]
                out.append((f"arguments {a_text}, {b_text} of {m.group(1)} swapped", new))
    return out


def source_files(under, exclude=None):
    files = []
    for path in sorted((ROOT / "src").rglob("*")):
        rel = path.relative_to(ROOT).as_posix()
        if not path.is_file() or not rel.endswith(SOURCE_SUFFIXES):
            continue
        if rel.startswith(SKIPPED_DIRS):
            continue
        files.append((rel, path.read_text(encoding="utf-8")))
    chosen = files
    if under:
        prefixes = tuple(u.rstrip("/") + "/" for u in under)
        chosen = [f for f in chosen if f[0].startswith(prefixes) or f[0] in under]
    if exclude:
        prefix = exclude.rstrip("/") + "/"
        chosen = [f for f in chosen if not f[0].startswith(prefix)]
    return files, chosen


class Mutant:
    __slots__ = ("file", "line_no", "text", "what", "new_line")

    def __init__(self, file, line_no, text, what, new_line):
        self.file, self.line_no, self.text, self.what, self.new_line = file, line_no, text, what, new_line

    @property
    def key(self):
        return (self.file, self.text, self.what)


def all_mutants(under=None, exclude=None):
    every, chosen = source_files(under, exclude)
    enums = enum_members(every)
    mutants = []
    for rel, text in chosen:
        lines, masks = code_masks(text)
        types = declared_types("\n".join(m for m, _ in masks))
        copies = {}
        for no, (line, (masked, is_pp)) in enumerate(zip(lines, masks), start=1):
            stripped = line.strip()
            if is_pp or not masked.strip() or SKIPPED_LINE.search(masked):
                continue
            copies[stripped] = copies.get(stripped, 0) + 1
            # An identical line further down is told apart by its count.
            suffix = f" (copy {copies[stripped]})" if copies[stripped] > 1 else ""
            seen = {}
            for what, new_line in line_mutants(line, masked, enums, types):
                # The same change at two places on the line: counted from the left.
                seen[what] = seen.get(what, 0) + 1
                if seen[what] > 1:
                    what += f" #{seen[what]}"
                what += suffix
                if new_line != line:
                    mutants.append(Mutant(rel, no, stripped, what, new_line))
    return mutants


def read_keys(path, fields=4):
    """Keys of a file like scripts/mutants-equivalent.txt: file | line text |
    mutation | reason (the reason left out where fields is 3)."""
    keys = set()
    if not path.exists():
        return keys
    for raw in path.read_text(encoding="utf-8").splitlines():
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        parts = [p.strip() for p in raw.split(" | ")]
        if len(parts) < fields or not all(parts):
            sys.exit(f"{path.name}: needs 'file | line text | mutation{' | reason' * (fields == 4)}': {raw}")
        # A line's text may itself hold " | ": the fields after it are counted
        # from the end.
        tail = fields - 2
        keys.add((parts[0], " | ".join(parts[1:len(parts) - tail]), parts[len(parts) - tail]))
    return keys


def read_equivalents():
    return read_keys(EQUIVALENTS)


# ------------------------------------------------------------- running

class Runner:
    def __init__(self, build_dir, jobs, in_place):
        self.base = Path(build_dir).resolve()
        self.in_place = in_place
        if in_place:
            # The working tree itself, built in an existing build folder.
            self.tree, self.build = ROOT, self.base
        else:
            self.tree = self.base / "tree"
            # Inside the copy, as build/ is inside the working tree: the compiler
            # cache (base_dir) then sees the same relative paths and shares objects.
            self.build = self.tree / "build"
        self.jobs = jobs
        self.limits = {}
        self.pending = None  # (path, original bytes) while a mutant is applied
        # The mutated file's name and its original, kept until it is put back,
        # so that a run killed outright is mended by the next one.
        self.journal = self.base / "mutate-pending"
        self.saved = self.base / "mutate-original"

    def sync_tree(self):
        """Makes tree/ a copy of the working tree's files (tracked and new,
        not ignored), writing only what differs so the build stays incremental."""
        self.recover()
        listed = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=ROOT,
                                check=True, capture_output=True).stdout.split(b"\0")
        wanted = set()
        for name in filter(None, listed):
            rel = name.decode()
            src = ROOT / rel
            if not src.is_file() or src.is_symlink():
                continue
            wanted.add(rel)
            dst = self.tree / rel
            data = src.read_bytes()
            if not dst.is_file() or dst.read_bytes() != data:
                dst.parent.mkdir(parents=True, exist_ok=True)
                dst.write_bytes(data)
                shutil.copymode(src, dst)
        for path in sorted(self.tree.rglob("*"), reverse=True):
            rel = path.relative_to(self.tree).as_posix()
            if rel == "build" or rel.startswith("build/"):
                continue
            if path.is_file() and rel not in wanted:
                path.unlink()

    def recover(self):
        """Puts back a file left mutated by a run that was killed outright."""
        if self.journal.exists():
            rel = self.journal.read_text().strip()
            if rel and self.saved.exists():
                (self.tree / rel).write_bytes(self.saved.read_bytes())
                print(f"{rel}: put back after an earlier run", file=sys.stderr)
            self.journal.unlink()

    def apply(self, mutant):
        path = self.tree / mutant.file
        original = path.read_bytes()
        lines = original.decode("utf-8").split("\n")
        if lines[mutant.line_no - 1].strip() != mutant.text:
            raise RuntimeError(f"{mutant.file}:{mutant.line_no} is not the line expected")
        lines[mutant.line_no - 1] = mutant.new_line
        self.saved.write_bytes(original)
        self.journal.write_text(mutant.file)
        self.pending = (path, original)
        path.write_bytes("\n".join(lines).encode("utf-8"))

    def restore(self):
        if self.pending:
            path, original = self.pending
            path.write_bytes(original)
            self.pending = None
            if self.journal.exists():
                self.journal.unlink()

    def configure(self):
        if (self.build / "build.ninja").exists():
            return
        args = ["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DZX_BUILD_BENCHMARKS=OFF"]
        if shutil.which("ccache"):
            args += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)

    def run_build(self, targets=()):
        args = ["cmake", "--build", str(self.build), "-j", str(self.jobs)]
        if targets:
            args += ["--target", *targets]
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return r.returncode == 0, r.stdout.decode(errors="replace")

    def _run(self, args, limit, cwd=None):
        """(return code or None on timeout, output) of a process group."""
        env = dict(os.environ, LD_LIBRARY_PATH=str(self.build / "simlib"))
        proc = subprocess.Popen(args, cwd=cwd or self.build, env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=limit)
            return proc.returncode, out.decode(errors="replace")
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            return None, ""
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            raise

    def steps(self):
        """(name, targets to build first, command): each step builds only what
        it runs, so a mutant the unit tests kill costs one relink."""
        unit = self.build / "tests" / "zx_unit_tests"
        e2e = self.build / "tests" / "zx_e2e_tests"
        return [
            ("unit", ["zx_unit_tests"], [str(unit), "--gtest_fail_fast", "--gtest_brief=1"]),
            ("e2e", ["zx_e2e_tests"], [str(e2e), "--gtest_fail_fast", "--gtest_brief=1"]),
            ("tools", ["zx_tools_tests"], [str(self.build / "tests" / "zx_tools_tests"),
                                           "--gtest_fail_fast", "--gtest_brief=1"]),
            # Every test in its own process. Left out: the include checks (a
            # one-line mutant never touches an include) and the browser test,
            # the slowest, whose server the zxctl serve tests cover.
            ("ctest", [], ["ctest", "-j", str(self.jobs), "--timeout", "300", "--stop-on-failure",
                           "-E", r"^(header|layers|browser)\."]),
        ]

    @staticmethod
    def first_failure(step, out):
        if step == "ctest":
            m = re.search(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.+\*{0,3}\s*(Failed|Timeout|Exception|"
                          r"SEGFAULT|Subprocess aborted|Child aborted|Not Run)", out, re.M)
            if not m:
                m = re.search(r"^\s*\d+ - (\S+) \(", out, re.M)
            return m.group(1) if m else "ctest"
        m = re.search(r"^\[  FAILED  \] ([^\s,]+)", out, re.M)
        return m.group(1) if m else f"{step} (crashed)"

    def baseline(self):
        """Builds and runs the unmutated tree; sets each step's time limit."""
        self.configure()
        ok, log = self.run_build()
        if not ok:
            print(log[-4000:], file=sys.stderr)
            return "the unmutated tree does not build"
        for step, _, args in self.steps():
            start = time.monotonic()
            rc, out = self._run(args, 1800)
            took = time.monotonic() - start
            if rc != 0:
                print(out[-4000:], file=sys.stderr)
                return f"the unmutated tree fails its {step} step"
            # Generous: the machine is shared and its load changes.
            self.limits[step] = 3 * took + 60
            print(f"baseline {step}: {took:.0f}s", flush=True)
        return None

    def judge(self):
        """'build fails', 'killed by TEST', 'killed by timeout (STEP)' or 'survived'."""
        for step, targets, args in self.steps():
            ok, _ = self.run_build(targets)
            if not ok:
                return "build fails"
            rc, out = self._run(args, self.limits[step])
            if rc is None:
                return f"killed by timeout ({step})"
            if rc != 0:
                return f"killed by {self.first_failure(step, out)}"
        return "survived"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--list", action="store_true", help="print the mutants and stop")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--sample", type=int, help="how many mutants to run")
    ap.add_argument("--keys", help="run exactly the mutants of this file (file | line text | mutation "
                    "per line, as in the equivalents' file)")
    ap.add_argument("--under", action="append",
                    help="only files under this folder (src/ati) or this file; may be repeated")
    ap.add_argument("--exclude", help="leave out the files under this folder (src/nv/regulator)")
    ap.add_argument("--build-dir", default=str(ROOT / "build-mutate"))
    ap.add_argument("--in-place", action="store_true",
                    help="mutate the working tree itself (put back after each mutant) and build in "
                    "the existing --build-dir; for CI, where build/ is already built")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    opts = ap.parse_args()

    equivalents = read_equivalents()
    mutants = all_mutants(opts.under, opts.exclude)
    if opts.list:
        if opts.sample:  # the sample a run with these arguments would take
            order = list(mutants)
            random.Random(opts.seed).shuffle(order)
            mutants = [m for m in order if m.key not in equivalents][:opts.sample]
        for m in mutants:
            mark = "  [equivalent]" if m.key in equivalents else ""
            print(f"{m.file}:{m.line_no}: {m.what}  | {m.text}{mark}")
        print(f"{len(mutants)} mutants", file=sys.stderr)
        return 0
    if not opts.sample and not opts.keys:
        ap.error("--sample N, --keys FILE or --list is needed")
    if opts.keys:
        # Exactly these mutants, e.g. the survivors of an earlier run again.
        wanted = read_keys(Path(opts.keys), fields=3)
        sample = [m for m in mutants if m.key in wanted]
        missing = wanted - {m.key for m in sample}
        for key in sorted(missing):
            print(f"no such mutant (any more): {' | '.join(key)}", file=sys.stderr)
    else:
        order = list(mutants)
        random.Random(opts.seed).shuffle(order)
        sample = [m for m in order if m.key not in equivalents][:opts.sample]

    runner = Runner(opts.build_dir, opts.jobs, opts.in_place)
    runner.base.mkdir(parents=True, exist_ok=True)
    # SIGTERM unwinds like Ctrl-C, so the mutated file is always put back.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    killed = survived = unbuilt = 0
    interrupted = False
    try:
        if opts.in_place:
            runner.recover()
        else:
            runner.sync_tree()
        print(f"sample: seed {opts.seed}, {len(sample)} of {len(mutants)} mutants"
              f"{' under ' + ', '.join(opts.under) if opts.under else ''} ({len(equivalents)} equivalents listed)",
              flush=True)
        problem = runner.baseline()
        if problem:
            print(problem, file=sys.stderr)
            return 2
        for m in sample:
            start = time.monotonic()
            try:
                runner.apply(m)
                result = runner.judge()
            finally:
                runner.restore()
            if result == "build fails":
                unbuilt += 1
            elif result == "survived":
                survived += 1
            else:
                killed += 1
            print(f"{result:<60} {m.file}:{m.line_no}: {m.what}  | {m.text}  "
                  f"[{time.monotonic() - start:.0f}s]", flush=True)
    except KeyboardInterrupt:
        runner.restore()
        print(f"interrupted after {killed + survived + unbuilt} mutants; the mutated file is put back",
              flush=True)
        interrupted = True
    finally:
        runner.restore()
    if opts.in_place and not interrupted:
        # The build folder is left matching the unmutated tree.
        runner.run_build()
    judged = killed + survived
    score = f"{100 * killed / judged:.0f}%" if judged else "n/a"
    print(f"mutants: {killed} killed, {survived} survived, {unbuilt} not built, score {score}")
    if interrupted:
        return 130
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
