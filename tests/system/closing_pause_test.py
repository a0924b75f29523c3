"""The closing pause on a real terminal: one key, not echoed, any key, terminal left as it was."""

import contextlib
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from support import PAUSE_PROMPT, Terminal, run_piped

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import preloadable  # noqa: E402

PROGRAM = sys.argv.pop(1)

# A build that waits with select runs these cases with a poll that, as on macOS, cannot wait
# on a terminal: the pause must not depend on it.
POLL_LIKE_MACOS = os.environ.get("PROFILEDESK_POLL_LIKE_MACOS")
PROGRAM_ENV = None
if POLL_LIKE_MACOS:
    PROGRAM_ENV = dict(os.environ, LD_PRELOAD=preloadable(POLL_LIKE_MACOS), ASAN_OPTIONS="verify_asan_link_order=0")


def start(folder, **options):
    return Terminal(PROGRAM, folder, env=PROGRAM_ENV, **options)


class ClosingPause(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.terminal = None
        self._start_at_pause()

    def _start_at_pause(self, **options):
        if self.terminal is not None:
            self.terminal.close()
        self.terminal = start(self.folder.name, **options)
        self.terminal.type("7\n")  # an option that does nothing: straight to the pause
        self.terminal.read_until(PAUSE_PROMPT)
        self.terminal.wait_for_raw_mode()  # keys typed earlier would meet the line discipline

    def tearDown(self):
        self.terminal.close()
        self.folder.cleanup()

    def test_waits_for_a_key_and_does_not_echo_it(self):
        time.sleep(0.3)
        self.assertIsNone(self.terminal.process.poll(), "ended without a key")
        shown_before = len(self.terminal.output)
        self.terminal.type("q")
        self.assertEqual(self.terminal.wait(), 0)
        self.assertNotIn(b"q", self.terminal.output[shown_before:])
        self.assertEqual(self.terminal.settings(), self.terminal.settings_before)

    def test_control_keys_are_ordinary_keys(self):
        for key in ("\x03", "\x1a", "\x1c", "\x13"):  # Ctrl+C, Ctrl+Z, Ctrl+\\, Ctrl+S
            with self.subTest(key=repr(key)):
                self._start_at_pause()
                self.terminal.type(key)
                self.assertEqual(self.terminal.wait(), 0)

    def test_an_arrow_key_is_consumed_whole(self):
        self.terminal.type("\x1b[A")
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.pending_input(), 0)
        self.assertEqual(self.terminal.settings(), self.terminal.settings_before)

    def test_a_lone_escape_ends_the_pause(self):
        self.terminal.type("\x1b")
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.pending_input(), 0)
        self.assertEqual(self.terminal.settings(), self.terminal.settings_before)

    def test_a_key_beyond_ascii_is_consumed_whole(self):
        self.terminal.type("é".encode())
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.pending_input(), 0)

    def test_terminal_is_restored_when_killed_during_the_wait(self):
        for signal_number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGQUIT,
                              signal.SIGUSR1, signal.SIGALRM, signal.SIGUSR2):
            with self.subTest(signal=signal_number.name):
                self._start_at_pause()
                self.assertNotEqual(self.terminal.settings(), self.terminal.settings_before, "not in raw mode")
                self.terminal.process.send_signal(signal_number)
                self.assertEqual(self.terminal.wait(), -signal_number)
                self.assertEqual(self.terminal.settings(), self.terminal.settings_before)

    def test_signals_ignored_by_the_parent_stay_ignored(self):
        # As under nohup, and as a shell without job control starts a command with `&`.
        self._start_at_pause(ignored=(signal.SIGHUP, signal.SIGINT))
        self.terminal.process.send_signal(signal.SIGHUP)
        self.terminal.process.send_signal(signal.SIGINT)
        self.terminal.type("q")
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.settings(), self.terminal.settings_before)


class OutputElsewhere(unittest.TestCase):
    """The pause waits only when its prompt reaches the terminal."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def test_output_into_a_pipe_ends_at_once_and_leaves_the_terminal_alone(self):
        terminal = start(self.folder.name, stdout=subprocess.PIPE)
        self.addCleanup(terminal.close)
        terminal.type("7\n")
        shown, _ = terminal.process.communicate(timeout=10)
        self.assertEqual(terminal.process.returncode, 0)
        self.assertIn(PAUSE_PROMPT, shown)
        self.assertEqual(terminal.settings(), terminal.settings_before)

    def test_answers_from_a_file_with_output_on_the_terminal_still_wait(self):
        with tempfile.TemporaryFile() as answers:
            answers.write(b"7\n")
            answers.seek(0)
            terminal = start(self.folder.name, stdin=answers)
        self.addCleanup(terminal.close)
        terminal.read_until(PAUSE_PROMPT)
        terminal.wait_for_raw_mode()
        self.assertIsNone(terminal.process.poll(), "ended without a key")
        terminal.type("q")
        self.assertEqual(terminal.wait(), 0)
        self.assertEqual(terminal.settings(), terminal.settings_before)


# Runs the program in a process group of its own, in the background of the terminal that
# this wrapper holds in the foreground, and reports how it ended.
IN_THE_BACKGROUND = """
import os, subprocess, sys
run = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, process_group=0)
os.write(1, f"program {run.pid}\\n".encode())  # one write: the program's lines cannot cut into it
run.communicate(b"7\\n")
os.write(1, f"status {run.returncode}\\n".encode())
"""


class InTheBackground(unittest.TestCase):
    def test_does_not_stop_for_the_terminal_nor_wait(self):
        with tempfile.TemporaryDirectory() as folder:
            terminal = Terminal([sys.executable, "-c", IN_THE_BACKGROUND, PROGRAM], folder, env=PROGRAM_ENV)
            program = None
            try:
                program = int(terminal.read_line(b"program "))
                self.assertEqual(terminal.read_line(b"status "), b"0")
                self.assertIn(PAUSE_PROMPT, terminal.output)
                self.assertEqual(terminal.wait(), 0)
                self.assertEqual(terminal.settings(), terminal.settings_before)
            finally:
                if program is not None and terminal.process.poll() is None:
                    with contextlib.suppress(ProcessLookupError):
                        os.kill(program, signal.SIGKILL)
                terminal.close()


class WithoutTerminal(unittest.TestCase):
    def test_does_not_wait(self):
        with tempfile.TemporaryDirectory() as folder:
            started = time.monotonic()
            result = run_piped(PROGRAM, folder, "7\n")
            self.assertEqual(result.returncode, 0)
            self.assertIn(PAUSE_PROMPT, result.stdout)
            self.assertLess(time.monotonic() - started, 30)


if __name__ == "__main__":
    unittest.main()
