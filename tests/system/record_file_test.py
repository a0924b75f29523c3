"""The record file under faults and under many desks at once: a record is saved whole or
not at all, a failure is reported and sets the exit status, and listings never see half."""

import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import unittest

from support import ANSWERS, PAUSE_PROMPT, Terminal, run_piped

PROGRAM = sys.argv.pop(1)
RECORD_LINES = 30
HEADER = " -->                     Profile Desk Community Survey[PDCS] !!!"
TRAILER_START = " --------------------------------------------> Community Records Department <"
EARLIER = b"an earlier record, kept as it was\n"


def split_records(text):
    """The records of a listing or file; fails on anything that is not a whole record."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) % RECORD_LINES:
        raise AssertionError(f"{len(lines)} lines is not a whole number of records")
    records = [lines[i:i + RECORD_LINES] for i in range(0, len(lines), RECORD_LINES)]
    for record in records:
        if record[0] != HEADER or not record[-1].startswith(TRAILER_START):
            raise AssertionError(f"torn record: {record[0]!r} ... {record[-1]!r}")
    return records


class SaveFailures(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")

    def tearDown(self):
        self.folder.cleanup()

    def assert_reported(self, result, reason):
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(),
                         f"profiledesk: could not save the record to 'datas.dat': {reason}\n")
        self.assertTrue(result.stdout.rstrip().endswith(PAUSE_PROMPT + b" <........"))

    def test_full_device(self):
        os.symlink("/dev/full", self.path)
        result = run_piped(PROGRAM, self.folder.name, "1 " + ANSWERS)
        self.assert_reported(result, "No space left on device")
        self.assertEqual(os.readlink(self.path), "/dev/full")

    def test_file_size_limit_inside_the_record(self):
        with open(self.path, "wb") as f:
            f.write(EARLIER)
        limit = len(EARLIER) + 1000  # a record is about 2.5 KB

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)  # the program must ignore it itself
        result = run_piped(PROGRAM, self.folder.name, "1 " + ANSWERS, preexec_fn=limit_file_size)
        self.assert_reported(result, "File too large")
        with open(self.path, "rb") as f:
            self.assertEqual(f.read(), EARLIER)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to switch to an unprivileged user")
    def test_folder_not_writable_by_an_unprivileged_user(self):
        os.chmod(self.folder.name, 0o755)
        # A copy the user can run, wherever the build happens to live.
        program = os.path.join(self.folder.name, "profiledesk")
        shutil.copy(PROGRAM, program)
        os.chmod(program, 0o755)
        result = run_piped(program, self.folder.name, "1 " + ANSWERS, user=65534)
        self.assert_reported(result, "Permission denied")
        self.assertFalse(os.path.exists(self.path))


class ManyDesks(unittest.TestCase):
    WRITERS = 16
    RECORDS_EACH = 50

    def test_concurrent_appends_and_listings(self):
        with tempfile.TemporaryDirectory() as folder:
            done = threading.Event()
            torn = []
            listings = [0]

            def write(writer):
                for n in range(self.RECORDS_EACH):
                    result = run_piped(PROGRAM, folder, f"1 w{writer}r{n} Doe " + ANSWERS.split(" ", 2)[2])
                    if result.returncode != 0:
                        torn.append(f"writer {writer} failed: {result.stderr!r}")

            def list_while_writing():
                while not done.is_set():
                    shown = run_piped(PROGRAM, folder, "2").stdout.decode()
                    body = shown.split("Option(Selection) Requested :: \n", 1)[1].rsplit("\n \n", 1)[0]
                    if body.startswith("Unable to open"):
                        continue
                    try:
                        split_records(body)
                        listings[0] += 1
                    except AssertionError as error:
                        torn.append(str(error))

            writers = [threading.Thread(target=write, args=(w,)) for w in range(self.WRITERS)]
            listers = [threading.Thread(target=list_while_writing) for _ in range(2)]
            for thread in writers + listers:
                thread.start()
            for thread in writers:
                thread.join()
            done.set()
            for thread in listers:
                thread.join()

            self.assertEqual(torn, [])
            self.assertGreater(listings[0], 0)
            with open(os.path.join(folder, "datas.dat"), encoding="utf-8") as f:
                records = split_records(f.read())
            names = sorted(record[6] for record in records)
            expected = sorted(f" Candidate Name :: w{w}r{n} Doe"
                              for w in range(self.WRITERS) for n in range(self.RECORDS_EACH))
            self.assertEqual(names, expected)


class ListingOnATerminal(unittest.TestCase):
    def test_control_characters_are_shown_in_caret_notation(self):
        stored = b"title \x1b]0;forged\x07 and \x7f end\n"
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "datas.dat"), "wb") as f:
                f.write(stored)
            terminal = Terminal(PROGRAM, folder)
            try:
                terminal.type("2\n")
                terminal.read_until(PAUSE_PROMPT)
                terminal.wait_for_raw_mode()
                terminal.type("k")
                self.assertEqual(terminal.wait(), 0)
                self.assertIn(b"title ^[]0;forged^G and ^? end", terminal.output)
                self.assertNotIn(b"\x1b", terminal.output)
            finally:
                terminal.close()

            piped = run_piped(PROGRAM, folder, "2")
            self.assertIn(stored, piped.stdout)


if __name__ == "__main__":
    unittest.main()
