#!/usr/bin/env python3
"""Failure paths that need more than a plain pipe or file: a terminal
(pseudo-terminal) to see that the colour is put back, or that goes away;
resource limits (address space, file size); non-blocking descriptors; a closed
standard error; and a program that faults on purpose. The plain pipe and file
cases are in run_cases.py.

Each case checks standard error byte for byte (the module offset, which depends
on the build, as 8 uppercase hexadecimal digits), the exit status, standard
output (on a terminal with its colour sequences) and the log.

Usage: failure_paths.py path/to/txtshade path/to/txtshade_fault_probe
"""
import os
import pty
import re
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from terminal_output import read_until_closed  # noqa: E402

HIGHLIGHT = b"\x1b[0;96;40m"  # colour 11, intense cyan on black
DEFAULT = b"\x1b[0m"
LOG_FAILED = "txtSHADE: Erreur dans la création du fichier de sortie\r\n".encode()


def report(class_name, message, module):
    """The report on standard error; `module` is a pattern."""
    return re.compile(b"Exception " + re.escape(class_name.encode()) + b" dans le module " +
                      module + b" dans [0-9A-F]{8}\\.\r\n" + message + b"\r\n\r\n")


def exact(text):
    return re.escape(text.encode())


class Run:
    def __init__(self, status, output, stderr, folder):
        self.status, self.output, self.stderr, self.folder = status, output, stderr, folder

    def file(self, name):
        path = os.path.join(self.folder, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()


def run(command, folder, stdin_path=None, stdin_fd=None, terminal=False, limits=(),
        merge_stderr=False):
    """Runs `command` in `folder` with standard input from a file, standard
    output on a pipe or on a raw pseudo-terminal, and the given resource limits."""

    def prepare():
        for limit, value in limits:
            resource.setrlimit(limit, (value, value))
        # Going over the file size limit is then a write error, not a signal.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

    stdin = stdin_fd if stdin_fd is not None else open(stdin_path, "rb")
    if terminal:
        master, slave = pty.openpty()
        tty.setraw(slave)  # the bytes as written, with no LF to CR LF translation
        stdout = slave
    else:
        stdout = subprocess.PIPE
    stderr = subprocess.STDOUT if merge_stderr else subprocess.PIPE
    process = subprocess.Popen(command, cwd=folder, stdin=stdin, stdout=stdout, stderr=stderr,
                               preexec_fn=prepare)
    if stdin_fd is None:
        stdin.close()
    if terminal:
        os.close(slave)
        output = read_until_closed(master)
        error = process.stderr.read()
        process.stderr.close()
        status = process.wait(timeout=120)
    else:
        output, error = process.communicate(timeout=120)
        status = process.returncode
    return Run(status, output, error or b"", folder)


def check(problems, what, expected, actual):
    if isinstance(expected, bytes):
        ok = actual == expected
    else:
        ok = actual is not None and expected.fullmatch(actual) is not None
    if not ok:
        shown = actual if actual is None or len(actual) < 300 else actual[:150] + b"..." + actual[-100:]
        problems.append("%s: got %r, expected %r" % (what, shown, expected if isinstance(
            expected, bytes) else expected.pattern))


def write(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def huge_line_input(folder):
    """A matching line, then one line of 256 MiB of zero bytes, in a sparse file."""
    path = write(folder, "huge", b"a\n")
    with open(path, "r+b") as f:
        f.truncate(2 + (256 << 20))
    return path


# An address space of 160 MiB: the program starts, and a line's string cannot
# grow past 128 MiB.
ADDRESS_SPACE_LIMIT = ((resource.RLIMIT_AS, 160 << 20),)

# Out of memory is detected by operator new, so the place lies in the C++
# library or, when it is linked in, in the program itself.
def out_of_memory_module(program):
    return b"(?:" + exact(os.path.basename(program)) + b"|libstdc\\+\\+\\.so[.0-9]*)"


def case_out_of_memory(program, folder):
    path = huge_line_input(folder)
    result = run([program, "a", "/L:oom.log"], folder, stdin_path=path, limits=ADDRESS_SPACE_LIMIT)
    problems = []
    check(problems, "stderr", report("EOutOfMemory", exact("Mémoire insuffisante."),
                                     out_of_memory_module(program)), result.stderr)
    check(problems, "stdout", b"a\r\n", result.output)
    check(problems, "log", b"a\r\n", result.file("oom.log"))
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def case_out_of_memory_terminal(program, folder):
    path = huge_line_input(folder)
    result = run([program, "a"], folder, stdin_path=path, terminal=True,
                 limits=ADDRESS_SPACE_LIMIT)
    problems = []
    check(problems, "stderr", report("EOutOfMemory", exact("Mémoire insuffisante."),
                                     out_of_memory_module(program)), result.stderr)
    # The first line in the highlight colour, then the colour put back.
    check(problems, "terminal", HIGHLIGHT + b"a\r\n" + DEFAULT, result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


# The log may grow to 200 bytes. Log lines are 6 bytes with their CR LF; the
# first 128-byte piece fits, the second one, filled by the 43rd line, is cut at
# byte 200 and its last write fails (EFBIG). The line end of that line write
# still waits in the buffer, so closing the log fails a second time: that
# second failure, with the same message, is the one reported, once.
FILE_SIZE_LIMIT = ((resource.RLIMIT_FSIZE, 200),)
LOG_LINES = [b"a%03d" % i for i in range(100)]


def case_log_full_second_failure(program, folder, terminal):
    path = write(folder, "input", b"".join(line + b"\n" for line in LOG_LINES))
    result = run([program, "a", "/L:full.log"], folder, stdin_path=path, terminal=terminal,
                 limits=FILE_SIZE_LIMIT)
    problems = []
    check(problems, "stderr", report("EInOutError", exact("Erreur E/S 223."),
                                     exact(os.path.basename(program))), result.stderr)
    check(problems, "log", b"".join(line + b"\r\n" for line in LOG_LINES)[:200],
          result.file("full.log"))
    # The 43rd line failed in the log before standard output got it.
    shown = LOG_LINES[:42]
    if terminal:
        expected = b"".join(HIGHLIGHT + line + b"\r\n" for line in shown) + DEFAULT
    else:
        expected = b"".join(line + b"\r\n" for line in shown)
    check(problems, "terminal" if terminal else "stdout", expected, result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def case_log_on_full_device_terminal(program, folder):
    path = write(folder, "input", b"b\na\n")
    result = run([program, "a", "/L:/dev/full"], folder, stdin_path=path, terminal=True)
    problems = []
    check(problems, "stderr", report("EInOutError", exact("Erreur E/S 112."),
                                     exact(os.path.basename(program))), result.stderr)
    # The matching line fails in the log before it is shown.
    check(problems, "terminal", DEFAULT + b"b\r\n" + DEFAULT, result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def case_input_directory_terminal(program, folder):
    directory = os.open(folder, os.O_RDONLY)
    try:
        result = run([program, "a"], folder, stdin_fd=directory, terminal=True)
    finally:
        os.close(directory)
    problems = []
    check(problems, "stderr", report("EInOutError", exact("Accès au fichier refusé."),
                                     exact(os.path.basename(program))), result.stderr)
    check(problems, "terminal", DEFAULT, result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def case_input_write_only(program, folder):
    path = write(folder, "input", b"a\n")
    descriptor = os.open(path, os.O_WRONLY)
    try:
        result = run([program, "a"], folder, stdin_fd=descriptor)
    finally:
        os.close(descriptor)
    problems = []
    check(problems, "stderr", report("EInOutError", exact("Erreur E/S 6."),
                                     exact(os.path.basename(program))), result.stderr)
    check(problems, "stdout", b"", result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def case_log_not_created_terminal(program, folder):
    path = write(folder, "input", b"a\nb\n")
    result = run([program, "a", "/L:missing/x.log"], folder, stdin_path=path, terminal=True)
    problems = []
    check(problems, "stderr", b"", result.stderr)
    check(problems, "terminal",
          LOG_FAILED + HIGHLIGHT + b"a\r\n" + DEFAULT + b"b\r\n" + DEFAULT, result.output)
    if result.status != 0:
        problems.append("exit status %d" % result.status)
    return problems


def case_terminal_gone(program, folder):
    """The terminal's other side closes while lines are still coming: the next
    write fails (EIO), reported once, exit status 1."""
    path = write(folder, "input", b"a line\n" * 200_000)
    master, slave = pty.openpty()
    tty.setraw(slave)
    with open(path, "rb") as stdin:
        process = subprocess.Popen([program, "a"], cwd=folder, stdin=stdin, stdout=slave,
                                   stderr=subprocess.PIPE)
    os.close(slave)
    os.read(master, 100)  # the program is writing; far more is to come than the terminal holds
    os.close(master)
    stderr = process.stderr.read()
    process.stderr.close()
    status = process.wait(timeout=120)
    problems = []
    check(problems, "stderr", report("EInOutError", exact("Erreur E/S 1117."),
                                     exact(os.path.basename(program))), stderr)
    if status != 1:
        problems.append("exit status %d" % status)
    return problems


def case_non_blocking(program, folder):
    """Non-blocking standard input and output, both slow: the program waits for
    them, and neither a byte is lost nor an error reported."""
    data = b"".join(b"line %d a\n" % i for i in range(20_000))
    input_reader, input_writer = os.pipe()
    output_reader, output_writer = os.pipe()
    os.set_blocking(input_reader, False)
    os.set_blocking(output_writer, False)
    process = subprocess.Popen([program, "a"], cwd=folder, stdin=input_reader,
                               stdout=output_writer, stderr=subprocess.PIPE)
    os.close(input_reader)
    os.close(output_writer)

    def feed():
        os.write(input_writer, data[:10])
        time.sleep(0.2)  # the program finds no input for a while
        with open(input_writer, "wb", closefd=True) as stream:
            stream.write(data[10:])

    feeder = threading.Thread(target=feed)
    feeder.start()
    time.sleep(0.5)  # nobody reads: standard output fills up
    with open(output_reader, "rb", closefd=True) as stream:
        output = stream.read()
    feeder.join()
    stderr = process.stderr.read()
    process.stderr.close()
    status = process.wait(timeout=120)
    problems = []
    check(problems, "stderr", b"", stderr)
    check(problems, "stdout", data.replace(b"\n", b"\r\n"), output)
    if status != 0:
        problems.append("exit status %d" % status)
    return problems


def case_error_closed(program, folder):
    """Standard error closed: the report is lost and nothing else changes; the
    log, opened after the start, does not land on descriptor 2 and get it."""
    path = write(folder, "input", b"a\nb\n")
    with open(path, "rb") as stdin, open("/dev/full", "wb") as full:
        status = subprocess.run([program, "a", "/L:x.log"], cwd=folder, stdin=stdin, stdout=full,
                                preexec_fn=lambda: os.close(2), timeout=120).returncode
    problems = []
    with open(os.path.join(folder, "x.log"), "rb") as f:
        check(problems, "log", b"a\r\n", f.read())
    if status != 1:
        problems.append("exit status %d" % status)
    return problems


def case_fault(probe, folder):
    path = write(folder, "input", b"")
    # Standard error joined to standard output: the clean-up comes first.
    result = run([probe], folder, stdin_path=path, merge_stderr=True)
    name = exact(os.path.basename(probe))
    message = (b"Violation d'acc\xc3\xa8s \xc3\xa0 l'adresse [0-9A-F]{8,16} dans le module '" +
               name + b"'\\. Lecture de l'adresse 00000000\\.")
    problems = []
    check(problems, "output", re.compile(
        b"inner clean-up\nouter clean-up\n" + report("EAccessViolation", message, name).pattern),
        result.output)
    if result.status != 1:
        problems.append("exit status %d" % result.status)
    return problems


def built_with_address_sanitizer(program):
    with open(program, "rb") as f:
        return b"AddressSanitizer" in f.read()


def main():
    program = os.path.abspath(sys.argv[1])
    probe = os.path.abspath(sys.argv[2])
    asan = built_with_address_sanitizer(program)
    cases = [
        ("out of memory on a huge line, with a log", lambda f: case_out_of_memory(program, f), not asan),
        ("out of memory on a terminal: the colour is put back",
         lambda f: case_out_of_memory_terminal(program, f), not asan),
        ("the log over the file size limit, its close failing again",
         lambda f: case_log_full_second_failure(program, f, False), True),
        ("the same on a terminal: the colour is put back",
         lambda f: case_log_full_second_failure(program, f, True), True),
        ("the log on a full device, on a terminal",
         lambda f: case_log_on_full_device_terminal(program, f), True),
        ("standard input a directory, on a terminal",
         lambda f: case_input_directory_terminal(program, f), True),
        ("standard input open for writing only", lambda f: case_input_write_only(program, f), True),
        ("a log that cannot be created, on a terminal",
         lambda f: case_log_not_created_terminal(program, f), True),
        ("the terminal goes away while lines are written",
         lambda f: case_terminal_gone(program, f), True),
        ("non-blocking, slow standard input and output: nothing lost",
         lambda f: case_non_blocking(program, f), True),
        ("standard error closed: the report is lost, the log keeps its lines",
         lambda f: case_error_closed(program, f), True),
        ("an invalid memory access after the clean-up", lambda f: case_fault(probe, f), True),
    ]
    passed = failed = 0
    for name, case, enabled in cases:
        if not enabled:
            # An address-space limit and the sanitizer's shadow memory exclude each other.
            print("skip %s (AddressSanitizer build)" % name)
            continue
        with tempfile.TemporaryDirectory(prefix="txtshade-failure-") as folder:
            problems = case(folder)
        if problems:
            failed += 1
            print("FAIL %s" % name)
            for problem in problems:
                print("     %s" % problem)
        else:
            passed += 1
            print("ok   %s" % name)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
