#!/usr/bin/env python3
"""End-to-end cases: the built program run as a user runs it.

Each case gives the parameters, the bytes on standard input and what must come
out: standard output, the log file, standard error and the exit status. Every
case runs in a fresh empty folder, which is the program's current folder.

    run_cases.py PROGRAM [--runner "wine"] [--platform posix|windows] [-k NAME]

On Windows the console streams carry the OEM code page (850 for a French
system) and the command line and the log the ANSI one (1252): a case gives
its Windows expectations in `windows`. Cases with `command_line` run the
program from a batch file through cmd, so that the program gets that raw
command line (Windows only). Under wine, a case may carry a known difference
from Windows in `wine`: the case is still checked against the Windows
expectations, and only when it fails exactly as the known difference says is
it counted as passed, marked with the reason.
"""

import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from typing import Optional, Union

Expected = Union[bytes, "re.Pattern[bytes]", None]

# The report of an uncaught failure; the module offset depends on the build.
def report(class_name: str, message: str) -> "re.Pattern[bytes]":
    return re.compile(b"Exception " + re.escape(class_name.encode()) +
                      b" dans le module {MODULE} dans [0-9A-F]{8}\\.\r\n" +
                      re.escape(message.encode()) + b"\r\n\r\n")


USAGE_LINES = [
    "TXTSHADE v1.0 (c) 2026 les auteurs de txtSHADE",
    "Colorie les lignes contenant toutes les chaînes recherchées",
    " ",
    "Syntaxe    : cmd [params] | txtshade chaîne [chaîne2] [/C:n] [/L:[name]]",
    " ",
    "  cmd      : commande à exécuter",
    "  params   : paramètres classiques de la commande",
    "  chaîne   : spécifie la chaîne à rechercher (casse ignorée)",
    "  chaîne2  : spécifie d'autres chaînes à rechercher (AND)",
    "  /C:n     : modifie la couleur par défaut (n = 0 à 15)",
    "  /L:name  : crée un fichier log (défaut : txtSHADE.log)",
    " ",
    '             Les chaînes "/C:" et "/L:" sont réservées aux paramètres',
    " ",
    "  Exemples : dir | txtshade .exe",
    '             dir %systemroot% /od | txtshade 08/2006 KB .log /l:"KB Août.txt"',
]
USAGE_UTF8 = "".join(line + "\r\n" for line in USAGE_LINES).encode("utf-8")
USAGE_OEM850 = "".join(line + "\r\n" for line in USAGE_LINES).encode("cp850")

WINE_BROKEN_PIPE = ("wine reports a write to a pipe of the host whose reader has gone as "
                    "233 (ERROR_PIPE_NOT_CONNECTED) where Windows gives 232 (ERROR_NO_DATA)")

LOG_FAILED = "txtSHADE: Erreur dans la création du fichier de sortie\r\n"

LISTING = (b" Repertoire de C:\\Outils\r\n"
           b"02/08/2006  17:45     48 640 txtshade.exe\r\n"
           b"02/08/2006  17:45      2 311 LISEZMOI.TXT\r\n"
           b"21/07/2006  11:03    131 072 Convert.EXE\n"
           b"21/07/2006  11:03      7 904 convert.ini\n")
LISTING_OUT = LISTING.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
LISTING_EXE = (b"02/08/2006  17:45     48 640 txtshade.exe\r\n"
               b"21/07/2006  11:03    131 072 Convert.EXE\r\n")


@dataclass
class Case:
    name: str
    args: list
    stdin: Union[bytes, str] = b""  # bytes, or "closed" / "directory"
    stdout: Expected = b""
    stderr: Expected = b""
    status: int = 0
    # A log file the run must leave: (name, expected bytes); None for no check.
    log: Optional[tuple] = None
    # Where standard output goes: "pipe", "file", "full", "closed", "broken".
    output: str = "pipe"
    platforms: tuple = ("posix", "windows")
    # Files that must not exist after the run.
    absent: tuple = ()
    setup: Optional[callable] = None
    # Expectations that differ on Windows, by field name (stdout, stderr, log, status).
    windows: Optional[dict] = None
    # The text after the program's name on a command line in a batch file
    # (OEM code page 850), run by cmd; `args` is not used then.
    command_line: Optional[str] = None
    # A known difference of wine from Windows: (reason, {field: what wine gives}).
    wine: Optional[tuple] = None


CASES = [
    # Copying and line ends.
    Case("empty input", [".exe"], b"", b""),
    Case("lines copied with CR LF, a lone CR dropped", ["zzz"],
         b"a\nb\r\nc\rd\n\r\n\n", b"a\r\nb\r\ncd\r\n\r\n\r\n"),
    Case("last line without line end", ["x"], b"one\ntwo", b"one\r\ntwo\r\n"),
    Case("byte 26 in the third line ends the input", ["x"],
         b"1\n2\nthr\x1aee\nfour\n", b"1\r\n2\r\nthr\r\n"),
    Case("byte 26 at the start of a line", ["x"], b"1\n\x1a2\n", b"1\r\n"),
    Case("zero bytes and all byte values pass", ["x"],
         bytes(b for b in range(256) if b not in (10, 13, 26)) + b"\n",
         bytes(b for b in range(256) if b not in (10, 13, 26)) + b"\r\n"),
    Case("a 300-byte line", ["y"], b"x" * 299 + b"y\n", b"x" * 299 + b"y\r\n"),
    Case("a line of a megabyte", ["end"], b"x" * (1 << 20) + b"END\n",
         b"x" * (1 << 20) + b"END\r\n"),

    # Matching and the log.
    Case("the matching lines go to the log", [".exe", "/L:m.log"], LISTING, LISTING_OUT,
         log=("m.log", LISTING_EXE)),
    Case("every term, in any order", ["08/2006", "kb", "/l:both.txt"],
         b"KB1 du 14/08/2006\n14/08/2006 kb2\nKB3\n08/2006\n",
         b"KB1 du 14/08/2006\r\n14/08/2006 kb2\r\nKB3\r\n08/2006\r\n",
         log=("both.txt", b"KB1 du 14/08/2006\r\n14/08/2006 kb2\r\n")),
    Case("a log and no match leaves an empty log", ["nothing", "/L:empty.log"],
         b"a\nb\n", b"a\r\nb\r\n", log=("empty.log", b"")),
    Case("the default log name", ["a", "/L:"], b"a\nb\n", b"a\r\nb\r\n",
         log=("txtSHADE.log", b"a\r\n")),
    Case("a log name with blanks and an accent", ["a", "/l:KB Août.txt"], b"a\n", b"a\r\n",
         log=("KB Août.txt", b"a\r\n")),
    Case("accented small letters find accented capitals", ["été", "/L:l"],
         "RAPPORT D'ÉTÉ\nrapport d'été\nETE\n".encode(),
         "RAPPORT D'ÉTÉ\r\nrapport d'été\r\nETE\r\n".encode(),
         log=("l", "RAPPORT D'ÉTÉ\r\nrapport d'été\r\n".encode()), platforms=("posix",)),
    Case("an existing log is emptied, not appended to", ["b", "/L:old.log"], b"a\nb\n",
         b"a\r\nb\r\n", log=("old.log", b"b\r\n"),
         setup=lambda folder: open(os.path.join(folder, "old.log"), "wb").write(b"x" * 500)),
    Case("a log that cannot be created: the message, and the run goes on",
         ["a", "/L:missing/x.log"], b"a\n", (LOG_FAILED + "a\r\n").encode(),
         windows=dict(stdout=(LOG_FAILED + "a\r\n").encode("cp850"))),
    Case("standard output to a file carries no colour codes", ["a"], b"a\nb\n", b"a\r\nb\r\n",
         output="file"),

    # Options and the usage screen.
    Case("no parameters: the usage screen, nothing read", [], b"ignored\n", USAGE_UTF8,
         windows=dict(stdout=USAGE_OEM850)),
    Case("/? anywhere: the usage screen", ["a", "x/?y", "b"], b"ignored\n", USAGE_UTF8,
         windows=dict(stdout=USAGE_OEM850)),
    Case("options alone: the usage screen and the log created", ["/C:12", "/L:u.log"],
         b"a\n", USAGE_UTF8, log=("u.log", b""), windows=dict(stdout=USAGE_OEM850)),
    Case("an option mark anywhere is an option, not a term", ["abc/c:3", "x"], b"abc/c:3\n",
         b"abc/c:3\r\n"),
    Case("a bad colour changes nothing and says nothing", ["a", "/C:1.5", "/C:16"], b"a\n",
         b"a\r\n"),

    # Failures.
    Case("the reader of standard output has gone", ["a"], b"a\n" * 100, b"",
         report("EInOutError", "Erreur E/S 232."), 1, output="broken",
         wine=(WINE_BROKEN_PIPE, dict(stderr=report("EInOutError", "Erreur E/S 233.")))),
    # The log gets each line before standard output; the 43rd line fills the
    # first 128-byte piece, whose hand-over fails.
    Case("the reader has gone while a log is open", ["a", "/L:b.log"], b"a\n" * 100, b"",
         report("EInOutError", "Erreur E/S 232."), 1, output="broken",
         log=("b.log", b"a\r\n" * 43),
         wine=(WINE_BROKEN_PIPE, dict(stderr=report("EInOutError", "Erreur E/S 233.")))),
    Case("standard output on a full disk", ["a"], b"a\n", b"",
         report("EInOutError", "Erreur E/S 112."), 1, output="full", platforms=("posix",)),
    Case("standard output closed", ["a"], b"a\n", b"",
         report("EInOutError", "Erreur E/S 103."), 1, output="closed",
         wine=("wine, started with descriptor 1 closed, hands the program a handle of type "
               "disk on a descriptor it reuses, whose writes fail with 6 "
               "(ERROR_INVALID_HANDLE); Windows gives a process without standard output a "
               "null handle, which GetFileType answers with 0 (code 105, then 103 at the close)",
               dict(stderr=report("EInOutError", "Erreur E/S 6.")))),
    # A read failure is reported; it never passes for the end of the input.
    Case("standard input is a directory", ["a"], "directory", b"",
         report("EInOutError", "Accès au fichier refusé."), 1, platforms=("posix",)),
    # Opening standard input fails; closing standard output, never opened,
    # then fails with 103, which takes its place.
    Case("standard input closed", ["a"], "closed", b"",
         report("EInOutError", "Erreur E/S 103."), 1, platforms=("posix",)),
    # The log on a character device takes each line at once: the first
    # matching line fails there, before standard output gets it.
    Case("the log on a full disk", ["a", "/L:/dev/full"], b"b\na\nc\n", b"b\r\n",
         report("EInOutError", "Erreur E/S 112."), 1, platforms=("posix",)),

    # Windows only: the console's OEM code page 850 and the ANSI code page 1252.
    Case("an OEM line matches an ANSI term; the log gets the ANSI bytes", ["été", "/L:l"],
         "RAPPORT D'ÉTÉ\nrapport d'été\nETE\n".encode("cp850"),
         "RAPPORT D'ÉTÉ\r\nrapport d'été\r\nETE\r\n".encode("cp850"),
         log=("l", "RAPPORT D'ÉTÉ\r\nrapport d'été\r\n".encode("cp1252")),
         platforms=("windows",)),

    # Windows only: the program splits its own command line. Each case logs
    # the lines that hold every term it found, and the terms show in the log.
    Case("a quoted stretch keeps its blanks; the quotes are dropped",
         [], b"a b c\nab c\na  b c\n", b"a b c\r\nab c\r\na  b c\r\n",
         command_line='"a b" c /L:t.log', log=("t.log", b"a b c\r\n"), platforms=("windows",)),
    Case("a stretch in the middle of a parameter, and one never closed",
         [], b"xa bx c d\nxa bx\n", b"xa bx c d\r\nxa bx\r\n",
         command_line='/L:t.log x"a b"x "c d', log=("t.log", b"xa bx c d\r\n"),
         platforms=("windows",)),
    Case("pairs of double quotes alone give no parameter", [], b"a\n", b"a\r\n",
         command_line='"" a "" "" /L:t.log ""', log=("t.log", b"a\r\n"),
         platforms=("windows",)),
    Case("only pairs of double quotes: the usage screen", [], b"a\n", USAGE_OEM850,
         command_line='"" ""', platforms=("windows",)),
    Case("a tab separates parameters, a quoted tab belongs to one", [],
         b"a\tb\na b\nab\n", b"a\tb\r\na b\r\nab\r\n",
         command_line='a\tb\t/L:t.log\t"\t"', log=("t.log", b"a\tb\r\n"),
         platforms=("windows",)),
    Case("a quoted log name with a blank and an accent", [], b"a\nb\n", b"a\r\nb\r\n",
         command_line='b /l:"KB Août.txt"', log=("KB Août.txt", b"b\r\n"),
         platforms=("windows",)),
    Case("a quoted option mark is still an option", [], b"a\n", b"a\r\n",
         command_line='a "/c:"3 /L:t.log', log=("t.log", b"a\r\n"), platforms=("windows",)),
]


def make_stdin(case, folder):
    if case.stdin == "closed":
        return None
    if case.stdin == "directory":
        return os.open(folder, os.O_RDONLY)
    path = os.path.join(folder, ".stdin")
    with open(path, "wb") as f:
        f.write(case.stdin)
    return os.open(path, os.O_RDONLY)


def batch_command(command, folder, command_line):
    """The runner's cmd, running a batch file that holds the raw command line."""
    program = command[-1]
    windows_path = "Z:" + program.replace("/", "\\")
    with open(os.path.join(folder, "run.bat"), "wb") as f:
        f.write(f'@"{windows_path}" {command_line}\r\n'.encode("cp850"))
    return command[:-1] + ["cmd", "/c", "run.bat"]


def run_case(case, command, module):
    with tempfile.TemporaryDirectory(prefix="txtshade-e2e-") as folder:
        if case.setup:
            case.setup(folder)
        stdin = make_stdin(case, folder)
        out_path = os.path.join(folder, ".stdout")
        reader = None
        if case.output == "pipe":
            stdout = subprocess.PIPE
        elif case.output == "file":
            stdout = open(out_path, "wb")
        elif case.output == "full":
            stdout = open("/dev/full", "wb")
        elif case.output == "broken":
            reader, stdout = os.pipe()
            os.close(reader)
        else:  # closed
            stdout = None

        def close_fds():
            # Runs in the child: give it closed standard descriptors.
            if stdin is None:
                os.close(0)
            if case.output == "closed":
                os.close(1)

        if case.command_line is not None:
            command = batch_command(command, folder, case.command_line)
        else:
            command = command + case.args
        proc = subprocess.run(command, cwd=folder,
                              stdin=stdin if stdin is not None else subprocess.DEVNULL,
                              stdout=stdout if stdout is not None else subprocess.DEVNULL,
                              stderr=subprocess.PIPE, preexec_fn=close_fds, timeout=120)
        if stdin is not None:
            os.close(stdin)
        if case.output == "broken":
            os.close(stdout)
        elif case.output in ("file", "full"):
            stdout.close()
        out = proc.stdout if case.output == "pipe" else (
            open(out_path, "rb").read() if case.output == "file" else b"")

        log = None
        if case.log is not None:
            path = os.path.join(folder, case.log[0])
            log = open(path, "rb").read() if os.path.exists(path) else None
        return out, proc.stderr, proc.returncode, log


def compare(expected, outcome, module):
    """The problems of one run's outcome against the expected fields."""
    out, err, status, log = outcome
    problems = []
    check("stdout", expected["stdout"], out, problems, module)
    check("stderr", expected["stderr"], err, problems, module)
    if status != expected["status"]:
        problems.append(f"exit status {status}, expected {expected['status']}")
    if expected["log"] is not None:
        name, content = expected["log"]
        if log is None:
            problems.append(f"no log file {name!r}")
        else:
            check("log", content, log, problems, module)
    return problems


def check(what, expected, actual, problems, module):
    if expected is None:
        return
    if isinstance(expected, bytes):
        if actual != expected:
            problems.append(f"{what}: got {shorten(actual)}, expected {shorten(expected)}")
    else:
        pattern = re.compile(expected.pattern.replace(b"{MODULE}", re.escape(module.encode())),
                             expected.flags)
        if not pattern.fullmatch(actual):
            problems.append(f"{what}: got {shorten(actual)}, expected /{pattern.pattern!r}/")


def shorten(data):
    return repr(data if len(data) < 300 else data[:150] + b"..." + data[-100:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--runner", default="", help="a command to run the program with")
    parser.add_argument("--platform", default="posix", choices=("posix", "windows"))
    parser.add_argument("-k", dest="only", default="", help="run the cases whose name holds this")
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    command = shlex.split(options.runner) + [program]
    module = os.path.basename(program)
    under_wine = any("wine" in os.path.basename(word) for word in shlex.split(options.runner))

    passed = failed = 0
    for case in CASES:
        if options.platform not in case.platforms or options.only not in case.name:
            continue
        if case.command_line is not None and options.platform != "windows":
            continue
        expected = dict(stdout=case.stdout, stderr=case.stderr, status=case.status, log=case.log)
        if options.platform == "windows" and case.windows:
            expected.update(case.windows)
        outcome = run_case(case, command, module)
        problems = compare(expected, outcome, module)
        if problems and under_wine and case.wine is not None:
            reason, differences = case.wine
            if not compare({**expected, **differences}, outcome, module):
                passed += 1
                print(f"ok   {case.name} (known wine difference: {reason})")
                continue
        if problems:
            failed += 1
            print(f"FAIL {case.name}")
            for problem in problems:
                print(f"     {problem}")
        else:
            passed += 1
            print(f"ok   {case.name}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
