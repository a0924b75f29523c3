"""What every benchmark here shares: bounded runs of other programs, side-by-side timing,
peak memory by GNU time, the record files (made once and kept under the work folder), and the
rows the benches print.

Every program runs in a session of its own with a timeout, and on timeout its whole process
group is killed; what it writes to a file is bounded by RLIMIT_FSIZE.
"""

import os
import resource
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1 << 20
# No file a bench writes comes near this; a runaway program stops here instead of filling the disk.
FILE_LIMIT = 8 << 30
ANSWERS = "Jane Roe Accra 01-01-1985 41 41 -2.5 Tech-Institute Ring-Road Kofi Mill Cocoa-Co Repairs " \
          "West-Library 250 Accra-Mall Park-School\n"


class Settings:
    """The sizes, rounds and timeout of one run: the full bench or its quick smoke test."""

    def __init__(self, quick):
        self.quick = quick
        self.big = (32 * MIB) if quick else (1024 * MIB)
        self.small = self.big // 8  # the size goals compare 1 GiB with 128 MiB, 8x
        self.rounds = 3 if quick else 5
        self.collate_rounds = 3
        self.timeout = 300 if quick else 3600


def _bounded():
    os.setsid()  # no controlling terminal, so the desk's closing pause does not wait; one group to kill
    resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_LIMIT, FILE_LIMIT))


def call(command, folder, timeout, stdin_text=b"", stdout=subprocess.DEVNULL, env=None, shell=False):
    """Runs one command to its end, bounded; raises with its error output if it fails."""
    with subprocess.Popen(command, cwd=folder, stdin=subprocess.PIPE, stdout=stdout, stderr=subprocess.PIPE,
                          env=env, shell=shell, preexec_fn=_bounded) as process:  # pylint: disable=subprocess-popen-preexec-fn
        try:
            _, error = process.communicate(stdin_text, timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise RuntimeError(f"timed out after {timeout} s: {command}") from None
        except BaseException:  # the bench itself stopped: its programs stop with it
            os.killpg(process.pid, signal.SIGKILL)
            raise
        if process.returncode != 0:
            raise RuntimeError(f"exit {process.returncode}: {command}\n{error.decode(errors='replace')[-2000:]}")
        return error


def timed(command, folder, timeout, stdin_text=b"", env=None, shell=False):
    started = time.perf_counter()
    call(command, folder, timeout, stdin_text, env=env, shell=shell)
    return time.perf_counter() - started


def side_by_side(subject, reference, rounds, prepare=None):
    """Median times of two callables, run in turn so that both see the same machine.
    `prepare`, untimed, runs before each of them (a fresh database, say)."""
    os.sync()  # no writeback of earlier work may land on either side
    subject_times, reference_times = [], []
    for _ in range(rounds):
        for run, times in ((subject, subject_times), (reference, reference_times)):
            if prepare:
                prepare()
            times.append(run())
    return statistics.median(subject_times), statistics.median(reference_times)


def peak_memory_mib(command, folder, timeout, stdin_text=b"", env=None, tail=""):
    """The peak resident memory of `command` (a list), by GNU time, a small process of its own:
    a child forked from this Python would count Python's memory as its own. `tail` is shell
    text after the command (a redirection or a pipe)."""
    out = os.path.join(folder, ".peak")
    quoted = " ".join(_quote(part) for part in ["/usr/bin/time", "-f", "%M", "-o", out, *command])
    call(f"{quoted} {tail or '> /dev/null'}", folder, timeout, stdin_text, env=env, shell=True)
    with open(out, encoding="ascii") as f:
        kib = int(f.read().strip().splitlines()[-1])
    os.remove(out)
    return kib / 1024


def _quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def q(text):
    """A path or word quoted for the shell."""
    return _quote(str(text))


def make_repeated_file(desk, path, size, timeout):
    """Whole records written by the desk, the same 20 repeated up to `size` bytes: the reader's
    shortcut for a line equal to the previous record's fires on nearly every line."""
    if _fresh(path, size):
        return
    folder = os.path.dirname(path)
    seed = os.path.join(folder, "seed")
    os.makedirs(seed, exist_ok=True)
    if os.path.exists(os.path.join(seed, "datas.dat")):
        os.remove(os.path.join(seed, "datas.dat"))
    for n in range(20):
        call([desk], seed, timeout, f"1 Candidate{n} {ANSWERS}".encode())
    with open(os.path.join(seed, "datas.dat"), "rb") as f:
        block = f.read()
    os.remove(os.path.join(seed, "datas.dat"))
    os.rmdir(seed)
    block *= max(1, (4 * MIB) // len(block))
    with open(path + ".part", "wb") as out:
        written = 0
        while written < size:
            out.write(block)
            written += len(block)
    os.replace(path + ".part", path)


def make_shaped_file(desk, path, size, kind, timeout):
    """Varied or all-distinct records, by make_records.py; kept until that script changes."""
    if _fresh(path, size, os.path.join(HERE, "make_records.py")):
        return
    call([sys.executable, os.path.join(HERE, "make_records.py"), desk, path, str(size), kind],
         os.path.dirname(path), timeout)


def _fresh(path, size, maker=None):
    if not os.path.exists(path) or os.path.getsize(path) < size:
        return False
    return maker is None or os.path.getmtime(path) >= os.path.getmtime(maker)


class Rows:
    """The printed rows, and the goals each met or missed, summed up at the end."""

    def __init__(self):
        self.goals = []

    @staticmethod
    def heading(text):
        print(f"\n== {text}", flush=True)

    def ratio(self, name, subject, reference, peak=None, goal=None, goal_text=None):
        """A row `subject vs reference`; with `goal` (a ratio not to exceed) its verdict."""
        ratio = subject / reference
        memory = f"  peak {peak:7.1f} MiB" if peak is not None else ""
        self._judged(f"  {name:<56} {subject:8.3f}s vs {reference:8.3f}s {ratio:7.3f}x{memory}", ratio, goal,
                     f"<= {goal:.3g}x" if goal else "", f"{ratio:.3f}x", goal_text or name)

    def memory(self, name, mib, goal=None, goal_text=None):
        self._judged(f"  {name:<56} {mib:8.1f} MiB", mib, goal, f"<= {goal} MiB", f"{mib:.1f} MiB",
                     goal_text or name)

    def figure(self, name, value, unit, goal=None, goal_text=None):
        """A figure of its own (milliseconds, say), not a ratio; with `goal` not to exceed."""
        self._judged(f"  {name:<56} {value:8.1f} {unit}", value, goal, f"<= {goal} {unit}", f"{value:.1f} {unit}",
                     goal_text or name)

    def within(self, name, first, second, tolerance, unit, goal_text):
        """Two figures that must stay within `tolerance` of each other."""
        apart = abs(second - first)
        self._judged(f"  {name:<56} {first:8.1f} {unit} vs {second:8.1f} {unit}  apart {apart:.1f}", apart,
                     tolerance, f"within {tolerance} {unit}", f"{apart:.1f} {unit} apart", goal_text)

    def _judged(self, line, value, goal, goal_shown, figure, goal_text):
        if goal is not None:
            met = value <= goal
            line += f"  goal {goal_shown} {'meets' if met else 'MISSES'}"
            self.goals.append((goal_text, figure, met))
        print(line, flush=True)

    def unsupported(self, name, goal_text=None):
        print(f"  {name:<56} not supported by this build", flush=True)
        if goal_text:
            self.goals.append((goal_text, "not supported by this build", None))

    def failed(self, name, error, goal_text=None):
        print(f"  {name:<56} FAILED: {str(error).splitlines()[0][:200]}", flush=True)
        if goal_text:
            self.goals.append((goal_text, "failed", False))

    def summary(self):
        self.heading("goals")
        for text, figure, met in self.goals:
            if met is None:
                print(f"  {text:<92} {figure}", flush=True)
            else:
                print(f"  {text:<92} {'meets' if met else 'MISSES'} ({figure})", flush=True)
