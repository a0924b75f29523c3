"""The closing pause on a real terminal: one key, not echoed, any key, terminal left as it was."""

import os
import signal
import sys
import tempfile
import time
import unittest

from support import PAUSE_PROMPT, Terminal, run_piped

PROGRAM = sys.argv.pop(1)


class ClosingPause(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.terminal = None
        self._start_at_pause()

    def _start_at_pause(self):
        if self.terminal is not None:
            self.terminal.close()
        self.terminal = Terminal(PROGRAM, self.folder.name)
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

    def test_ctrl_c_is_an_ordinary_key(self):
        for key in ("\x03", "\x1a", "\x1c"):  # Ctrl+C, Ctrl+Z, Ctrl+\\
            with self.subTest(key=repr(key)):
                self._start_at_pause()
                self.terminal.type(key)
                self.assertEqual(self.terminal.wait(), 0)

    def test_an_arrow_key_is_consumed_whole(self):
        self.terminal.type("\x1b[A")
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.pending_input(), 0)
        self.assertEqual(self.terminal.settings(), self.terminal.settings_before)

    def test_a_key_beyond_ascii_is_consumed_whole(self):
        self.terminal.type("é".encode())
        self.assertEqual(self.terminal.wait(), 0)
        self.assertEqual(self.terminal.pending_input(), 0)

    def test_terminal_is_restored_when_killed_during_the_wait(self):
        for signal_number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGQUIT):
            with self.subTest(signal=signal_number.name):
                self._start_at_pause()
                self.assertNotEqual(self.terminal.settings(), self.terminal.settings_before, "not in raw mode")
                self.terminal.process.send_signal(signal_number)
                self.assertEqual(self.terminal.wait(), -signal_number)
                self.assertEqual(self.terminal.settings(), self.terminal.settings_before)


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
