#!/usr/bin/env python3
"""The colours of a real Windows console: wine's console, shown in a tmux pane.

A batch file run by `wine cmd /c` runs the usage example `dir ... | txtshade
.exe`, the same with /C:12, and a listing whose last line matches, each
followed by an `echo` in the same batch (wine's console host puts the
terminal's colours back itself when cmd ends, so only a line written in the
same console session shows whether the program restored them). The pane's
cells, read back with `tmux capture-pane -e`, must show every line holding
".exe" in the highlight colour and every other line in the console's colours,
which the `echo BEFORE` line shows.

    wine_console_colours.py PROGRAM.exe [--wine wine]
Exits 77 (skipped) when tmux is not installed.
"""

import argparse
import os
import shlex
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import terminal_colours  # noqa: E402
from terminal_colours import line_colours  # noqa: E402

MARKER = "ALL-DONE"
# Wine shows the attribute word's foreground colours 11 and 12 as these SGR colours.
INTENSE_CYAN, INTENSE_RED = 96, 91


def run_in_tmux(script, timeout):
    return terminal_colours.run_in_tmux(script, MARKER, timeout, width=160, height=50)


def check_section(lines, start, end, highlight, console, problems):
    """Every line between the markers `start` and `end`: highlighted when it
    holds .exe, in the console's colours otherwise; `end` itself in the
    console's colours. Returns the count of highlighted lines."""
    texts = [text for text, _ in lines]
    try:
        first, last = texts.index(start), texts.index(end)
    except ValueError:
        problems.append(f"the pane lacks {start!r} or {end!r}")
        return 0
    highlighted = 0
    for text, colours in lines[first + 1:last]:
        if not text.strip():
            continue
        expected = highlight if ".exe" in text.lower() else console
        highlighted += expected == highlight
        if colours != expected:
            problems.append(f"{text.strip()!r} shown in {colours}, expected {expected}")
    if lines[last][1] != console:
        problems.append(f"{end!r} after the run shown in {lines[last][1]}, expected the "
                        f"console's colours {console}: not restored")
    return highlighted


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--timeout", type=float, default=120)
    options = parser.parse_args()
    if shutil.which("tmux") is None:
        print("tmux is not installed: skipped")
        return 77

    program = "Z:" + os.path.abspath(options.program).replace("/", "\\")
    with tempfile.TemporaryDirectory(prefix="txtshade-console-") as folder:
        with open(os.path.join(folder, "colours.bat"), "wb") as f:
            f.write("\r\n".join([
                "@echo off",
                "echo BEFORE",
                f'dir C:\\windows\\system32 | "{program}" .exe',
                "echo BETWEEN",
                f'dir C:\\windows\\system32 | "{program}" .exe /C:12',
                "echo AGAIN",
                # Every line matches, the last one included.
                f'dir /b C:\\windows\\system32\\*.exe | "{program}" .exe',
                "echo AFTER",
                ""]).encode("cp850"))
        environment = "".join(f"export {name}={shlex.quote(os.environ[name])}\n"
                              for name in ("WINEPREFIX", "WINEDEBUG", "LC_ALL", "LOCPATH",
                                           "PATH") if name in os.environ)
        captured = run_in_tmux(f"{environment}cd {shlex.quote(folder)}\n"
                               f"{shlex.join(shlex.split(options.wine))} cmd /c colours.bat",
                               options.timeout)

    lines = line_colours(captured)
    problems = []
    texts = [text.strip() for text, _ in lines]
    if "BEFORE" not in texts or MARKER not in texts:
        print("the batch did not run to its end; the pane showed:")
        print(captured[-2000:])
        print("0 passed, 1 failed")
        return 1
    # The console's own colours, as cmd wrote its first line. Its background
    # is black, which wine shows as the terminal's default background; the
    # highlight colours are on black too.
    console = lines[texts.index("BEFORE")][1]
    cyan, red = (INTENSE_CYAN, console[1]), (INTENSE_RED, console[1])
    counts = [check_section(lines, "BEFORE", "BETWEEN", cyan, console, problems),
              check_section(lines, "BETWEEN", "AGAIN", red, console, problems),
              check_section(lines, "AGAIN", "AFTER", cyan, console, problems)]
    if min(counts) < 5:
        problems.append(f"too few .exe lines highlighted: {counts}")
    if problems:
        for problem in problems[:30]:
            print(problem)
        print("0 passed, 1 failed")
        return 1
    print(f"ok   wine console: {counts[0]} .exe lines in colour 11, {counts[1]} in colour 12, "
          f"the last line matching in the third run, the console's colours back after each run")
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
