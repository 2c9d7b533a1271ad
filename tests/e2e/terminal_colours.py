#!/usr/bin/env python3
"""The colours a real terminal shows: the program runs in a tmux pane, and
the pane's cells, read back with `tmux capture-pane -e`, must show the
matching lines in the highlight colour on black, the others and whatever
follows the run in the terminal's own colours.

    terminal_colours.py PROGRAM
Exits 77 (skipped) when tmux is not installed.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

DEFAULT = ("default", "default")
SGR = re.compile(r"\x1b\[([0-9;]*)m")


def line_colours(captured):
    """The (foreground, background) in force at the first character of each line."""
    fg, bg = DEFAULT
    result = []
    for line in captured.split("\n"):
        first = None
        pos = 0
        for match in SGR.finditer(line):
            if first is None and match.start() > pos:
                first = (fg, bg)
            for code in (match.group(1) or "0").split(";"):
                n = int(code or 0)
                if n == 0:
                    fg, bg = DEFAULT
                elif 30 <= n <= 37 or 90 <= n <= 97:
                    fg = n
                elif n == 39:
                    fg = "default"
                elif 40 <= n <= 47 or 100 <= n <= 107:
                    bg = n
                elif n == 49:
                    bg = "default"
            pos = match.end()
        text = SGR.sub("", line)
        result.append((text, first if first is not None else (fg, bg)))
    return result


def run_in_tmux(script, marker="ALL-DONE", timeout=30, width=100, height=40):
    """Runs the shell `script` in a new tmux pane and returns the pane's whole
    history with its colours (`capture-pane -e`), once the script has echoed
    `marker` on a line of its own or `timeout` seconds have passed."""
    server = f"txtshade-test-{os.getpid()}"
    tmux = ["tmux", "-L", server, "-f", "/dev/null"]
    with tempfile.NamedTemporaryFile("w", suffix=".sh", delete=False) as f:
        f.write(script + f"\necho {marker}\nsleep 60\n")
        path = f.name
    try:
        # A history long enough for a whole directory listing, twice.
        subprocess.run(tmux + ["set-option", "-g", "history-limit", "50000", ";",
                               "new-session", "-d", "-x", str(width), "-y", str(height),
                               "sh " + path],
                       check=True, env=dict(os.environ, TERM="xterm-256color"))
        deadline = time.time() + timeout
        while time.time() < deadline:
            visible = subprocess.run(tmux + ["capture-pane", "-p"], check=True,
                                     capture_output=True, text=True).stdout
            if any(line.strip() == marker for line in visible.split("\n")):
                break
            time.sleep(0.1)
        return subprocess.run(tmux + ["capture-pane", "-e", "-p", "-S", "-"], check=True,
                              capture_output=True, text=True, errors="replace").stdout
    finally:
        subprocess.run(tmux + ["kill-server"], capture_output=True)
        os.unlink(path)


def main():
    if shutil.which("tmux") is None:
        print("tmux is not installed: skipped")
        return 77
    program = shlex.quote(os.path.abspath(sys.argv[1]))
    with tempfile.TemporaryDirectory() as folder:
        listing = os.path.join(folder, "listing.txt")
        with open(listing, "w") as f:
            f.write("setup.exe\nreadme.txt\nCONVERT.EXE\nconvert.ini\n")
        listing = shlex.quote(listing)
        captured = run_in_tmux(
            f"echo BEFORE\n"
            f"{program} .exe < {listing}\n"
            f"echo BETWEEN\n"
            f"{program} .exe /C:12 < {listing}\n"
            f"{program} nothing < {listing} > /dev/null\n"
            f"echo AFTER\n")
    lines = [entry for entry in line_colours(captured) if entry[0].strip()]
    cyan_on_black, red_on_black = (96, 40), (91, 40)
    expected = [
        ("BEFORE", DEFAULT),
        ("setup.exe", cyan_on_black),
        ("readme.txt", DEFAULT),
        ("CONVERT.EXE", cyan_on_black),
        ("convert.ini", DEFAULT),
        ("BETWEEN", DEFAULT),  # the colours are back after the run
        ("setup.exe", red_on_black),
        ("readme.txt", DEFAULT),
        ("CONVERT.EXE", red_on_black),
        ("convert.ini", DEFAULT),
        ("AFTER", DEFAULT),
        ("ALL-DONE", DEFAULT),
    ]
    if lines != expected:
        print("the terminal showed:")
        for text, colours in lines:
            print(f"  {colours!s:24} {text}")
        print("expected:")
        for text, colours in expected:
            print(f"  {colours!s:24} {text}")
        print("0 passed, 1 failed")
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
