"""Runs the built program as a user would: answers from a pipe, or on a terminal of its own."""

import fcntl
import os
import re
import select
import signal
import subprocess
import termios
import time

ANSWERS = "John Doe Lagos 12-03-1990 36 30 5 College Street Coordinator Shop Company Repairs Library 100 Plaza School"
PAUSE_PROMPT = b"Kindly Press Any Key To Continue"


def run_piped(program, folder, typed, preexec_fn=None, user=None):
    """One run with standard input from `typed` and no controlling terminal."""
    command = [program]
    if user is not None:
        command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups", program]
    return subprocess.run(command, cwd=folder, input=typed.encode(), capture_output=True,
                          start_new_session=True, preexec_fn=preexec_fn, timeout=60, check=False)


class Terminal:
    """A pseudo-terminal that the program gets as its controlling terminal."""

    def __init__(self, program, folder, stdin=None, stdout=None, ignored=(), env=None):
        """`stdin` and `stdout` default to the terminal; `ignored` signals start ignored, as
        under nohup. `program` is a path or a whole command."""
        self.master, self.slave = os.openpty()
        self.settings_before = termios.tcgetattr(self.slave)
        self.output = b""

        def take_terminal():
            for signal_number in ignored:
                signal.signal(signal_number, signal.SIG_IGN)
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)

        command = [program] if isinstance(program, str) else program
        self.process = subprocess.Popen(
            command, cwd=folder, stdin=self.slave if stdin is None else stdin,
            stdout=self.slave if stdout is None else stdout, stderr=self.slave, env=env,
            start_new_session=True, preexec_fn=take_terminal)

    def type(self, text):
        os.write(self.master, text.encode() if isinstance(text, str) else text)

    def read_until(self, marker, timeout=10):
        deadline = time.monotonic() + timeout
        while marker not in self.output:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"{marker!r} not shown; got {self.output[-300:]!r}")
            self._read(remaining)
        return self.output

    def read_line(self, prefix, timeout=10):
        """What is shown after `prefix` up to the end of its line."""
        deadline = time.monotonic() + timeout
        while (found := re.search(re.escape(prefix) + rb"(.*?)\r\n", self.output)) is None:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no line after {prefix!r}; got {self.output[-300:]!r}")
            self._read(remaining)
        return found[1]

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if ready:
            try:
                self.output += os.read(self.master, 65536)
            except OSError:
                pass

    def wait(self, timeout=10):
        status = self.process.wait(timeout=timeout)
        self._read(0.1)
        return status

    def pending_input(self):
        """Bytes typed but not read by anyone: what a shell would get next."""
        count = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0")
        return int.from_bytes(count, "little")

    def wait_for_raw_mode(self, timeout=10):
        deadline = time.monotonic() + timeout
        while self.settings()[3] & termios.ICANON:
            if time.monotonic() > deadline:
                raise AssertionError("the terminal never left line mode")
            time.sleep(0.01)

    def settings(self):
        return termios.tcgetattr(self.slave)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)
