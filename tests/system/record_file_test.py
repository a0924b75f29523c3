"""The record file under faults and under many desks at once: a record is saved whole or
not at all, a failure is reported and sets the exit status, and listings never see half."""

import fcntl
import os
import resource
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from support import ANSWERS, PAUSE_PROMPT, Terminal, run_piped

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import root_only, shared_folder  # noqa: E402

PROGRAM = sys.argv.pop(1)
RECORD_LINES = 30
HEADER = " -->                     Profile Desk Community Survey[PDCS] !!!"
TRAILER_START = " --------------------------------------------> Community Records Department <"
EARLIER = b"an earlier record, kept as it was\n"
MENU_END = b"Option(Selection) Requested :: \n"
CLOSING = b" \n ........> Kindly Press Any Key To Continue <........ \n"
OUTPUT_LIMIT = 4 << 20  # bytes any listing here may write to a file
BOUND = 30  # seconds any run here may take before its process group is killed


def limit_output():
    resource.setrlimit(resource.RLIMIT_FSIZE, (OUTPUT_LIMIT, resource.RLIM_INFINITY))


def start(folder, typed, stdout, preexec_fn=limit_output, program=None):
    """Starts one run in a session of its own, answers from `typed`, stderr captured."""
    process = subprocess.Popen([program or PROGRAM], cwd=folder, stdin=subprocess.PIPE, stdout=stdout,
                               stderr=subprocess.PIPE, start_new_session=True, preexec_fn=preexec_fn)
    process.stdin.write(typed.encode())
    process.stdin.close()
    return process


def finish(process, timeout=BOUND):
    """Waits for a run within the bound, killing its whole process group past it."""
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        raise AssertionError(f"still running after {timeout} s")
    finally:
        stderr = process.stderr.read()
        process.stderr.close()
    return process.returncode, stderr.decode()


def run_into_file(folder, typed, output_name="shown", mode="wb"):
    """One run whose standard output goes to a file in `folder`; returns status, stderr, output."""
    output_path = os.path.join(folder, output_name)
    with open(output_path, mode) as output:
        status, stderr = finish(start(folder, typed, output))
    with open(output_path, "rb") as output:
        return status, stderr, output.read()


def read_pipe(pipe, until=None, timeout=BOUND):
    """Reads a pipe to its end, or until `until` has been read, within the bound."""
    got = b""
    deadline = time.monotonic() + timeout
    while until is None or until not in got:
        ready, _, _ = select.select([pipe], [], [], max(0, deadline - time.monotonic()))
        if not ready:
            raise AssertionError(f"nothing more to read after {timeout} s")
        more = pipe.read(65536)
        if not more:
            break
        got += more
    return got


def listing_body(shown):
    """What a listing printed between the menu and the closing lines."""
    return shown.split(MENU_END, 1)[1].removesuffix(CLOSING)


def wait_for_lock_waiter(path, timeout=BOUND):
    """Waits until some process is blocked on a record lock of the file at `path`."""
    inode = f":{os.stat(path).st_ino} "
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open("/proc/locks", encoding="ascii") as locks:
            if any("->" in line and inode in line for line in locks):
                return
        time.sleep(0.01)
    raise AssertionError("nobody waited for the lock")


def reachable_copy(test):
    """A folder of its own and a copy of the program in it that an unprivileged user can reach,
    wherever the build happens to live; removed after the test."""
    folder = shared_folder("profiledesk-record-file-")
    test.addCleanup(shutil.rmtree, folder)
    program = os.path.join(folder, "profiledesk")
    shutil.copy(PROGRAM, program)
    os.chmod(program, 0o755)
    return folder, program


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

    def test_a_link_to_nothing_is_refused_at_once(self):
        os.symlink("gone/datas.dat", self.path)  # once tried for ever, at full speed
        result = run_piped(PROGRAM, self.folder.name, "1 " + ANSWERS)
        self.assert_reported(result, "a symbolic link to a missing file")

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

    @root_only
    def test_folder_not_writable_by_an_unprivileged_user(self):
        folder, program = reachable_copy(self)
        result = run_piped(program, folder, "1 " + ANSWERS, user=65534)
        self.assert_reported(result, "Permission denied")
        self.assertFalse(os.path.exists(os.path.join(folder, "datas.dat")))


class FirstSave(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")

    def tearDown(self):
        self.folder.cleanup()

    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_creating_the_file_syncs_the_folder_that_names_it(self):
        trace = os.path.join(self.folder.name, "trace")
        command = ["strace", "-f", "-qq", "-o", trace, "-e", "trace=openat,fsync,fdatasync", PROGRAM]
        # The leak checker of a sanitizer build cannot run under ptrace.
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        result = subprocess.run(command, cwd=self.folder.name, input=("1 " + ANSWERS).encode(), env=env,
                                capture_output=True, start_new_session=True, timeout=BOUND, check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(trace, encoding="utf-8") as f:
            calls = [" ".join(line.split()[1:]) for line in f]
        folder_opens = [call.rsplit("= ", 1)[1].strip() for call in calls
                        if call.startswith('openat(AT_FDCWD, ".",') and "O_DIRECTORY" in call]
        self.assertEqual(len(folder_opens), 1, calls)
        self.assertIn(f"fsync({folder_opens[0]}) = 0", calls)

        # Appending to a file that is already there leaves the folder alone.
        subprocess.run(command, cwd=self.folder.name, input=("1 " + ANSWERS).encode(), env=env,
                       capture_output=True, start_new_session=True, timeout=BOUND, check=True)
        with open(trace, encoding="utf-8") as f:
            self.assertNotIn("O_DIRECTORY", f.read())

    def test_created_with_mode_0666_less_the_umask(self):
        for umask, mode in ((0o002, 0o664), (0o077, 0o600)):
            with self.subTest(umask=oct(umask)):
                result = run_piped(PROGRAM, self.folder.name, "1 " + ANSWERS,
                                   preexec_fn=lambda umask=umask: os.umask(umask))
                self.assertEqual(result.returncode, 0)
                self.assertEqual(stat.S_IMODE(os.stat(self.path).st_mode), mode)
                os.unlink(self.path)


class ListingFailures(unittest.TestCase):
    """Listings that cannot be made end at once with a message and status 1."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")

    def tearDown(self):
        self.folder.cleanup()

    def test_a_device_is_not_listed(self):
        for device in ("/dev/zero", "/dev/full"):
            with self.subTest(device=device):
                os.symlink(device, self.path)
                try:
                    status, stderr, shown = run_into_file(self.folder.name, "2")
                finally:
                    os.unlink(self.path)
                self.assertEqual((status, stderr),
                                 (1, "profiledesk: could not read 'datas.dat': not a regular file\n"))
                self.assertEqual(listing_body(shown), b"Unable to open the stored(saved) 'data.dat' file")

    def test_a_listing_stops_at_the_first_failed_write(self):
        # A FIFO that is written to for as long as anyone reads it.
        os.mkfifo(self.path)
        stop = threading.Event()

        def feed():
            with open(self.path, "wb", buffering=0) as fifo:
                try:
                    while not stop.is_set():
                        fifo.write(b"a line from a FIFO\n" * 4096)
                except BrokenPipeError:
                    pass
        feeder = threading.Thread(target=feed, daemon=True)
        feeder.start()
        try:
            status, stderr, shown = run_into_file(self.folder.name, "2")
        finally:
            stop.set()
            # Unblocks the feeder if the program never opened the FIFO.
            os.close(os.open(self.path, os.O_RDONLY | os.O_NONBLOCK))
            feeder.join(timeout=BOUND)
        self.assertEqual(status, 1)
        self.assertEqual(stderr, "profiledesk: could not write to standard output: File too large\n")
        self.assertEqual(len(shown), OUTPUT_LIMIT)

    @root_only
    def test_a_file_the_user_may_not_read(self):
        folder, program = reachable_copy(self)
        path = os.path.join(folder, "datas.dat")
        with open(path, "wb") as f:
            f.write(EARLIER)
        os.chmod(path, 0o600)
        result = run_piped(program, folder, "2", user=65534)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "profiledesk: could not read 'datas.dat': Permission denied\n")
        self.assertEqual(listing_body(result.stdout), b"Unable to open the stored(saved) 'data.dat' file")


class ListingIntoFiles(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")

    def tearDown(self):
        self.folder.cleanup()

    def test_listing_appended_to_the_record_file_itself_is_refused(self):
        with open(self.path, "wb") as f:
            f.write(EARLIER)
        status, stderr, stored = run_into_file(self.folder.name, "2", "datas.dat", "ab")
        self.assertEqual((status, stderr), (1, "profiledesk: could not list 'datas.dat' into itself\n"))
        # Only the menu and the closing lines were added: the records were not copied.
        self.assertTrue(stored.startswith(EARLIER))
        self.assertEqual(stored.count(EARLIER), 1)
        self.assertEqual(listing_body(stored[len(EARLIER):]), b"")

    def test_a_file_just_made_and_still_empty_lists_no_records(self):
        # What a listing sees between a first save's making of the file and its record.
        open(self.path, "wb").close()
        status, stderr, shown = run_into_file(self.folder.name, "2")
        self.assertEqual((status, stderr), (0, ""))
        self.assertEqual(split_records(listing_body(shown).decode()), [])

    def test_listing_appended_to_another_file_is_exact(self):
        # Several read buffers' worth, ending without a line end.
        stored = b"".join(b"record line %d \x01\t\r\n" % n for n in range(20000)) + b"no line end"
        with open(self.path, "wb") as f:
            f.write(stored)
        with open(os.path.join(self.folder.name, "listing.txt"), "wb") as f:
            f.write(b"kept\n")
        status, stderr, shown = run_into_file(self.folder.name, "2", "listing.txt", "ab")
        self.assertEqual((status, stderr), (0, ""))
        self.assertTrue(shown.startswith(b"kept\n \n"))
        self.assertEqual(listing_body(shown), stored + b"\n")


    def test_listing_into_a_new_or_appended_file_here_or_on_another_file_system_is_exact(self):
        # A kernel copy where it can; one into an O_APPEND file, or from /dev/shm into the
        # build's folder, must fall back and still copy every byte.
        stored = bytes(range(256)) * 8192 + b"no line end"
        elsewhere = tempfile.TemporaryDirectory(dir="/dev/shm")
        self.addCleanup(elsewhere.cleanup)
        outputs = tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(PROGRAM)))
        self.addCleanup(outputs.cleanup)
        for records in (self.folder.name, elsewhere.name):
            with open(os.path.join(records, "datas.dat"), "wb") as f:
                f.write(stored)
            for mode, kept in (("wb", b""), ("ab", b"kept\n")):
                with self.subTest(records=records, mode=mode):
                    output = os.path.join(outputs.name, "shown")
                    with open(output, "wb") as f:
                        f.write(b"earlier" if mode == "wb" else kept)
                    with open(output, mode) as f:
                        status, stderr = finish(start(records, "2", f))
                    self.assertEqual((status, stderr), (0, ""))
                    with open(output, "rb") as f:
                        shown = f.read()
                    self.assertTrue(shown.startswith(kept + b" \n"))
                    self.assertEqual(listing_body(shown), stored + b"\n")

class LocksHeldElsewhere(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")
        with open(self.path, "wb") as f:
            f.write(EARLIER)

    def tearDown(self):
        self.folder.cleanup()

    def run_under_a_write_lock(self, typed):
        """Runs the program while this process holds a write lock, released once it waits."""
        with open(self.path, "r+b") as held:
            fcntl.lockf(held, fcntl.LOCK_EX)
            process = start(self.folder.name, typed, subprocess.PIPE)
            try:
                wait_for_lock_waiter(self.path)
                self.assertIsNone(process.poll())
            finally:
                fcntl.lockf(held, fcntl.LOCK_UN)
        shown = process.stdout.read(OUTPUT_LIMIT)
        process.stdout.close()
        return finish(process) + (shown,)

    def test_a_save_waits_for_the_lock_then_completes(self):
        status, stderr, _ = self.run_under_a_write_lock("1 " + ANSWERS)
        self.assertEqual((status, stderr), (0, ""))
        with open(self.path, "rb") as f:
            stored = f.read()
        self.assertTrue(stored.startswith(EARLIER))
        self.assertEqual(len(split_records(stored[len(EARLIER):].decode())), 1)

    def test_a_listing_waits_for_the_lock_then_completes(self):
        status, stderr, shown = self.run_under_a_write_lock("2")
        self.assertEqual((status, stderr), (0, ""))
        self.assertEqual(listing_body(shown), EARLIER)

    def test_a_listing_nobody_reads_does_not_hold_up_a_save(self):
        stored = EARLIER * ((1 << 20) // len(EARLIER))  # far more than a pipe holds
        with open(self.path, "wb") as f:
            f.write(stored)
        read_end, write_end = os.pipe()
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            with os.fdopen(write_end, "wb") as output:
                listing = start(self.folder.name, "2", output)
            try:
                # Read up to the first listed bytes, then stop reading: the listing blocks.
                shown = read_pipe(pipe, until=EARLIER)
                save = start(self.folder.name, "1 " + ANSWERS, subprocess.DEVNULL)
                self.assertEqual(finish(save), (0, ""))
                self.assertIsNone(listing.poll(), "the listing was never held up")
                # Still, the listing shows just what was there when it began.
                shown += read_pipe(pipe)
            except BaseException:
                os.killpg(listing.pid, signal.SIGKILL)
                finish(listing)
                raise
        self.assertEqual(finish(listing), (0, ""))
        self.assertEqual(listing_body(shown), stored)


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
                    body = listing_body(run_piped(PROGRAM, folder, "2").stdout).decode()
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


class ReaderGoesAway(unittest.TestCase):
    """Whatever the reader of standard output does, the record typed is saved."""
    RUNS = 20

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.folder.name, "datas.dat")

    def tearDown(self):
        self.folder.cleanup()

    def saved(self):
        with open(self.path, encoding="utf-8") as f:
            return len(split_records(f.read()))

    def test_a_reader_gone_before_the_first_line(self):
        # A listing too, copied straight to the pipe: the output went away, not the file.
        for run in range(self.RUNS + 1):
            read_end, write_end = os.pipe()
            os.close(read_end)  # as `| true` does, but every time
            try:
                status, stderr = finish(start(self.folder.name, "1 " + ANSWERS if run < self.RUNS else "2",
                                              write_end))
            finally:
                os.close(write_end)
            self.assertEqual((status, stderr), (1, "profiledesk: could not write to standard output: Broken pipe\n"))
            self.assertEqual(self.saved(), min(run + 1, self.RUNS))

    def test_head_takes_three_lines(self):
        for run in range(self.RUNS):
            process = subprocess.Popen(
                ["bash", "-c", '"$0" | head -n 3 > /dev/null; exit "${PIPESTATUS[0]}"', PROGRAM],
                cwd=self.folder.name, stdin=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                preexec_fn=limit_output)
            process.stdin.write(("1 " + ANSWERS).encode())
            process.stdin.close()
            status, stderr = finish(process)
            # Whether head left before the desk's last line is up to the timing of the run.
            self.assertIn((status, stderr), [(0, ""), (1, "profiledesk: could not write to standard output: "
                                                          "Broken pipe\n")])
            self.assertEqual(self.saved(), run + 1)


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
