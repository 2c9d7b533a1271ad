#!/usr/bin/env python3
"""GNU grep as an independent judge of which lines txtshade highlights.

For generated inputs (mixed-case ASCII, NUL bytes, CRs in odd places, very
long lines) and several sets of search terms, the lines txtshade writes to its
log (/L:) must be exactly those that `grep -a -F -i` chained over every term
selects, in order; run in a pseudo-terminal, the lines it shows in the
highlight colour must be the same ones. grep runs with LC_ALL=C, so that -i
folds ASCII letters only, as txtshade does for these bytes.

Usage: grep_differential.py path/to/txtshade
"""
import os
import pty
import random
import re
import subprocess
import sys
import tempfile
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from terminal_output import read_until_closed  # noqa: E402

HIGHLIGHT = b"\x1b[0;96;40m"  # colour 11, intense cyan on black
DEFAULT = b"\x1b[0m"


def split_lines(data):
    """The reader's line rules: LF or CR LF ends a line, a lone CR is dropped,
    byte 26 ends the input, a last line without a line end still counts."""
    data = data.split(b"\x1a", 1)[0]
    lines, i = [], 0
    while i < len(data):
        line, ended = bytearray(), False
        while i < len(data) and not ended:
            c = data[i]
            i += 1
            if c == 0x0A:
                ended = True
            elif c == 0x0D:
                if i < len(data) and data[i] == 0x0A:
                    i += 1
                    ended = True
            else:
                line.append(c)
        lines.append(bytes(line))
    return lines


def grep_select(lines, terms):
    """The lines that hold every term, by grep -a -F -i chained over the terms."""
    data = b"".join(line + b"\n" for line in lines)
    env = dict(os.environ, LC_ALL="C")
    for term in terms:
        result = subprocess.run(["grep", "-a", "-F", "-i", "-e", term], input=data,
                                stdout=subprocess.PIPE, env=env, check=False)
        if result.returncode not in (0, 1):
            raise RuntimeError("grep failed")
        data = result.stdout
    return data.split(b"\n")[:-1]


def run_with_log(program, data, terms, folder):
    log = os.path.join(folder, "match.log")
    result = subprocess.run([program, *terms, "/L:" + log], input=data, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, cwd=folder, check=False)
    with open(log, "rb") as f:
        return result, f.read()


def run_in_terminal(program, data, terms, folder):
    """stdout on a raw pseudo-terminal, so that the program writes its colours."""
    source = os.path.join(folder, "input")
    with open(source, "wb") as f:
        f.write(data)
    master, slave = pty.openpty()
    tty.setraw(slave)  # no LF to CR LF translation: the bytes as written
    with open(source, "rb") as stdin:
        process = subprocess.Popen([program, *terms], stdin=stdin, stdout=slave,
                                   stderr=subprocess.PIPE, cwd=folder)
    os.close(slave)
    output = read_until_closed(master)
    stderr = process.stderr.read()
    process.stderr.close()
    return process.wait(), output, stderr


def shown_lines(output):
    """(highlighted?, line) for every line of terminal output, and the colour
    sequence left at the end."""
    shown, position = [], 0
    pattern = re.compile(rb"(\x1b\[[0-9;]*m)(.*?)\r\n", re.S)
    while True:
        match = pattern.match(output, position)
        if not match:
            break
        shown.append((match.group(1) == HIGHLIGHT, match.group(2)))
        position = match.end()
    return shown, output[position:]


def random_line(rng, length, alphabet):
    return bytes(rng.choice(alphabet) for _ in range(length))


def generate(rng, case):
    """Input bytes for one case."""
    alphabet = b"abcABC .-x0\x00"
    parts = []
    if case == "short lines":
        for _ in range(400):
            parts.append(random_line(rng, rng.randrange(0, 30), alphabet))
            parts.append(rng.choice([b"\n", b"\r\n", b"\n", b"\r\n", b"\r\r\n"]))
    elif case == "odd CRs and NULs":
        for _ in range(300):
            line = bytearray(random_line(rng, rng.randrange(0, 25), alphabet))
            for _ in range(rng.randrange(0, 4)):
                line.insert(rng.randrange(0, len(line) + 1), rng.choice([0x0D, 0x00]))
            parts.append(bytes(line) + rng.choice([b"\n", b"\r\n", b"\r", b"\n\r"]))
    elif case == "long lines":
        for i in range(6):
            parts.append(random_line(rng, rng.randrange(100_000, 400_000), b"abAB"))
            parts.append(b"\n")
            # A line of near misses that makes a naive search quadratic.
            parts.append(b"ab" * 150_000 + [b"abc", b"", b"ABAC"][i % 3] + b"\r\n")
    elif case == "no final line end":
        for _ in range(50):
            parts.append(random_line(rng, rng.randrange(0, 20), alphabet) + b"\n")
        parts.append(random_line(rng, 10, alphabet) + b"\r")
    elif case == "ends at byte 26":
        for _ in range(50):
            parts.append(random_line(rng, rng.randrange(0, 20), alphabet) + b"\r\n")
        parts.append(b"abc\x1a" + random_line(rng, 200, alphabet) + b"\nxyz\n")
    return b"".join(parts)


TERM_SETS = [
    ["a"],
    ["AB", "c"],
    ["b.c"],
    ["x", "X", "0"],
    ["aB", "Ba", "ab"],
    ["a b", "-"],
    ["abab"],
    ["ababababababc"],
    ["ABAC", "bAb"],
    ["aB" * 200 + "C"],
]

CASES = ["short lines", "odd CRs and NULs", "long lines", "no final line end", "ends at byte 26"]


def main():
    program = os.path.abspath(sys.argv[1])
    failures = checks = 0
    rng = random.Random(20261211)
    with tempfile.TemporaryDirectory() as folder:
        for case in CASES:
            data = generate(rng, case)
            lines = split_lines(data)
            for terms in TERM_SETS:
                checks += 1
                label = "%s / %s" % (case, " ".join(terms))
                expected = grep_select(lines, terms)
                result, log = run_with_log(program, data, terms, folder)
                problems = []
                if result.returncode != 0 or result.stderr:
                    problems.append("exit %d, stderr %r" % (result.returncode, result.stderr[:200]))
                if result.stdout != b"".join(line + b"\r\n" for line in lines):
                    problems.append("standard output is not the input lines")
                if log != b"".join(line + b"\r\n" for line in expected):
                    problems.append("log has %d lines, grep selects %d"
                                    % (log.count(b"\r\n"), len(expected)))
                # The terminal check costs more; the long lines stay out of it.
                if case != "long lines":
                    status, output, stderr = run_in_terminal(program, data, terms, folder)
                    shown, rest = shown_lines(output)
                    highlighted = [line for lit, line in shown if lit]
                    if status != 0 or stderr:
                        problems.append("terminal run: exit %d, stderr %r" % (status, stderr[:200]))
                    if [line for _, line in shown] != lines or rest != DEFAULT:
                        problems.append("terminal output is not the colour-switched lines")
                    if highlighted != expected:
                        problems.append("%d lines highlighted, grep selects %d"
                                        % (len(highlighted), len(expected)))
                if problems:
                    failures += 1
                    print("FAIL %s: %s" % (label, "; ".join(problems)))
    print("%d passed, %d failed" % (checks - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
