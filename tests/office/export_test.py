"""profiledesk-records export, end to end: record files written by the real desk program are
exported and read back by other programs (Python's csv, mlr, sqlite3, jq).

Usage: export_test.py RECORDS_PROGRAM DESK_PROGRAM WORK_FOLDER
"""

import csv
import io
import json
import os
import re
import resource
import subprocess
import sys
import tempfile
import unittest

RECORDS, DESK, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib, preloadable  # noqa: E402
from quiet import without_looks, without_made  # noqa: E402
FAKETIME_LIB = faketime_lib()
# first, surname, place, date of birth, age, age again, years ahead, then ten more words
ADA = "Ada Lovelace Lon,don 10-12-1815 36 36 2.5 Inst Ring-Road Kofi Mill Cocoa-Co Repairs West-Lib 250 Mall School"
ALAN = 'Alan "Turing" Wilmslow 23-06-1912 41 41 -0.5 Kings Parade Max Bletchley Enigma Bombe Sherborne 0 Arcade Grammar'
ADA_ROW = ["1", "1", "2026-12-06T15:53", "Ada", "Lovelace", "Lon,don", "10-12-1815", "36", "Inst", "Ring-Road",
           "Kofi", "Mill", "Cocoa-Co", "Repairs", "West-Lib", "250", "Mall", "School", "2.5", "38.5"]
ALAN_ROW = ["2", "31", "2026-12-07T00:05", "Alan", '"Turing"', "Wilmslow", "23-06-1912", "41", "Kings", "Parade",
            "Max", "Bletchley", "Enigma", "Bombe", "Sherborne", "0", "Arcade", "Grammar", "-0.5", "40.5"]
HEADER = ["source", "record", "line", "entered_at", "first_name", "surname", "place_of_birth", "date_of_birth",
          "age", "education_centre", "street", "coordinator", "nearby_business", "productivity_company",
          "maintenance_company", "zonal_library", "library_fee", "shopping_centre", "nearest_school",
          "years_ahead", "age_after_years"]


def bounded():
    """No test may write more than 64 MiB or run away."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 20, 64 << 20))


def enter(folder, answers, when):
    """One data entry by the desk program, at a fixed time, appended to folder/datas.dat."""
    env = dict(os.environ, TZ="UTC", FAKETIME=when, LD_PRELOAD=FAKETIME_LIB,
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    subprocess.run([DESK], cwd=folder, input=b"1 " + answers + b"\n", env=env, stdout=subprocess.DEVNULL,
                   start_new_session=True, timeout=30, check=True, preexec_fn=bounded)


def export(folder, *args):
    return subprocess.run([RECORDS, "export", *args], cwd=folder, capture_output=True, timeout=30,
                          start_new_session=True, preexec_fn=bounded, check=False)


def tool(command, folder, stdin=b""):
    return subprocess.run(command, cwd=folder, input=stdin, capture_output=True, timeout=30,
                          preexec_fn=bounded, check=True).stdout.decode()


def tool_status(command, folder):
    done = subprocess.run(command, cwd=folder, capture_output=True, timeout=30, start_new_session=True,
                          preexec_fn=bounded, check=False)
    return done.returncode, without_looks(done.stdout) if "check" in command else done.stdout, without_made(done.stderr)


class Export(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(dir=WORK)
        self.folder = self.scratch.name
        enter(self.folder, ADA.encode(), "2026-12-06 15:53:20")
        enter(self.folder, ALAN.encode(), "2026-12-07 00:05:00")

    def tearDown(self):
        self.scratch.cleanup()

    def path(self, name):
        return os.path.join(self.folder, name)

    def test_csv_reads_back_in_python_mlr_and_sqlite(self):
        done = export(self.folder, "datas.dat")
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertTrue(done.stdout.endswith(b"\r\n") and done.stdout.count(b"\r\n") == 3)
        rows = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))
        self.assertEqual(rows, [HEADER, ["datas.dat"] + ADA_ROW, ["datas.dat"] + ALAN_ROW])

        with open(self.path("out.csv"), "wb") as f:
            f.write(done.stdout)
        by_mlr = json.loads(tool(["mlr", "--icsv", "--ojson", "cat", "out.csv"], self.folder))
        self.assertEqual([r["place_of_birth"] for r in by_mlr], ["Lon,don", "Wilmslow"])
        self.assertEqual([r["surname"] for r in by_mlr], ["Lovelace", '"Turing"'])
        by_sqlite = tool(["sqlite3", "office.db", ".import --csv out.csv records",
                          "SELECT surname, place_of_birth, entered_at FROM records ORDER BY line;"], self.folder)
        self.assertEqual(by_sqlite, 'Lovelace|Lon,don|2026-12-06T15:53\n"Turing"|Wilmslow|2026-12-07T00:05\n')

    def test_json_lines_read_by_jq_with_figures_as_numbers(self):
        done = export(self.folder, "--format", "jsonl", "datas.dat")
        self.assertEqual(done.returncode, 0)
        picked = tool(["jq", "-c", "[.record, .line, .years_ahead, .age_after_years, .surname, .age]"],
                      self.folder, done.stdout)
        self.assertEqual(picked, '[1,1,2.5,38.5,"Lovelace","36"]\n[2,31,-0.5,40.5,"\\"Turing\\"","41"]\n')
        keys = tool(["jq", "-c", "keys_unsorted"], self.folder, done.stdout).splitlines()
        self.assertEqual(keys, [json.dumps(HEADER, separators=(",", ":"))] * 2)

    def test_crlf_file_gives_the_same_rows(self):
        with open(self.path("datas.dat"), "rb") as f, open(self.path("windows.dat"), "wb") as out:
            out.write(f.read().replace(b"\n", b"\r\n"))
        done = export(self.folder, "windows.dat")
        self.assertEqual(done.returncode, 0)
        rows = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))
        self.assertEqual(rows[1:], [["windows.dat"] + ADA_ROW, ["windows.dat"] + ALAN_ROW])

    def test_record_cut_short_is_told_and_the_whole_ones_exported(self):
        with open(self.path("datas.dat"), "rb") as f:
            data = f.read()
        with open(self.path("cut.dat"), "wb") as out:
            out.write(data[: data.index(b"Wilmslow")])
        done = export(self.folder, "cut.dat")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"cut.dat:31: a record cut short (7 of 30 lines)\n")
        self.assertEqual(done.stdout.count(b"\r\n"), 2)

    def test_check_counts_whole_records_and_tells_each_problem(self):
        with open(self.path("datas.dat"), "rb") as f:
            data = f.read()
        with open(self.path("cut.dat"), "wb") as out:
            out.write(data[: data.index(b"Wilmslow")])
        whole = tool_status([RECORDS, "check", "datas.dat"], self.folder)
        self.assertEqual(whole, (0, b"datas.dat: 2 whole records\n", b""))
        both = tool_status([RECORDS, "check", "cut.dat", "datas.dat"], self.folder)
        self.assertEqual(both, (1, b"cut.dat:31: a record cut short (7 of 30 lines)\ncut.dat: 1 whole record\n"
                                   b"datas.dat: 2 whole records\n", b""))

    def test_file_names_with_line_ends_are_quoted_and_names_not_utf8_told_once(self):
        names = ["carriage\rreturn.dat", "line\nfeed.dat"]
        for name in names:
            os.link(self.path("datas.dat"), self.path(name))
        done = export(self.folder, *names)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        rows = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))
        self.assertEqual([row[:3] for row in rows[1:]], [[names[0], "1", "1"], [names[0], "2", "31"],
                                                         [names[1], "1", "1"], [names[1], "2", "31"]])

        os.rename(self.path("datas.dat").encode(), self.path("K\xf6ln.dat").encode("latin-1"))
        done = export(self.folder, "--format", "jsonl", b"K\xf6ln.dat")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"K<0xF6>ln.dat: the file's name is not UTF-8\n")
        self.assertEqual([json.loads(line)["source"] for line in done.stdout.splitlines()], ["K\ufffdln.dat"] * 2)

    def test_lines_with_answers_not_utf8_are_told_once_each_in_file_order(self):
        # Two on line 7; the library (line 19) is asked before the shopping centre (line 17).
        answers = ADA.replace("Ada Lovelace", "\xc5da L\xf6velace").replace("West-Lib 250 Mall", "W\xe9st 250 M\xe5ll")
        enter(self.folder, answers.encode("latin-1"), "2026-12-08 09:00:00")
        enter(self.folder, answers.encode("latin-1"), "2026-12-09 09:00:00")
        done = export(self.folder, "--format", "jsonl", "--encoding", "UTF-8", "--from", "2026-12-08", "datas.dat")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stderr, b"datas.dat:67: not UTF-8\ndatas.dat:77: not UTF-8\ndatas.dat:79: not UTF-8\n"
                                      b"datas.dat:97: not UTF-8\ndatas.dat:107: not UTF-8\ndatas.dat:109: not UTF-8\n")
        # Without the encoding named, the file is told once, and the way to name it.
        done = export(self.folder, "--format", "jsonl", "datas.dat")
        self.assertEqual(done.stderr, b"datas.dat: not UTF-8 (a Windows desk? try --encoding CP1252)\n")

    def flood(self, records=25):
        """Records with an answer not UTF-8 on their 8th line, each followed by a stray line."""
        enter(self.folder, ADA.replace("Lon,don", "K\xf6ln").encode("latin-1"), "2026-12-08 09:00:00")
        with open(self.path("datas.dat"), "rb") as f:
            record = b"".join(f.read().splitlines(keepends=True)[60:])
        with open(self.path("flood.dat"), "wb") as f:
            f.write((record + b"stray\n") * records)
        not_utf8 = [f"flood.dat:{31 * k + 8}: not UTF-8\n" for k in range(records)]
        stray = [f"flood.dat:{31 * k + 31}: 1 line that belongs to no record\n" for k in range(records)]
        return not_utf8, stray

    def test_the_eleventh_problem_of_a_kind_is_the_first_counted(self):
        hint = "flood.dat: not UTF-8 (a Windows desk? try --encoding CP1252)\n"
        stray = self.flood(11)[1]
        with open(self.path("flood.dat"), "rb") as f:
            lines = f.read().splitlines(keepends=True)
        for records, more in ((11, "flood.dat: 1 more of this kind: lines that belong to no record "
                                   "(--all-problems lists them all)\n"), (10, "")):
            with self.subTest(records=records):
                with open(self.path("flood.dat"), "wb") as f:
                    f.write(b"".join(lines[:31 * records]))
                self.assertEqual(export(self.folder, "flood.dat").stderr.decode(), hint + "".join(stray[:10]) + more)

    def test_each_kind_of_problem_is_told_ten_times_a_file_then_counted_in_every_command(self):
        not_utf8, stray = self.flood()
        more = "flood.dat: 15 more of this kind: {} (--all-problems lists them all)\n"
        both = "".join(a + b for a, b in zip(not_utf8[:10], stray[:10]))
        # With the encoding named, each line not valid in it is a problem of its own kind.
        jsonl = export(self.folder, "--format", "jsonl", "--encoding", "UTF-8", "flood.dat")
        self.assertEqual((jsonl.returncode, jsonl.stderr.decode()),
                         (1, both + more.format("not UTF-8") + more.format("lines that belong to no record")))
        self.assertEqual(len(jsonl.stdout.splitlines()), 25)
        # Without it, the file is told once, before its problems.
        hint = "flood.dat: not UTF-8 (a Windows desk? try --encoding CP1252)\n"
        strays = hint + "".join(stray[:10]) + more.format("lines that belong to no record")
        self.assertEqual(export(self.folder, "flood.dat").stderr.decode(), strays)
        report = tool_status([RECORDS, "report", "flood.dat"], self.folder)
        self.assertEqual((report[0], report[2].decode()), (1, strays))
        self.assertEqual(tool_status([RECORDS, "check", "flood.dat", "datas.dat"], self.folder),
                         (1, (strays + "flood.dat: 25 whole records\n" + hint.replace("flood", "datas") +
                               "datas.dat: 3 whole records\n").encode(), b""))
        collate = tool_status([RECORDS, "collate", "--into", "office.db", "flood.dat", "flood.dat"], self.folder)
        self.assertEqual(collate, (1, b"25 added, 25 already present, 50 problems\n", (strays * 2).encode()))

        everything = export(self.folder, "--format", "jsonl", "--encoding", "UTF-8", "--all-problems", "flood.dat")
        self.assertEqual(everything.stderr.decode(), "".join(a + b for a, b in zip(not_utf8, stray)))
        checked = tool_status([RECORDS, "check", "--all-problems", "flood.dat"], self.folder)
        self.assertEqual(checked[1].decode(), hint + "".join(stray) + "flood.dat: 25 whole records\n")

    def test_each_message_is_one_write(self):
        self.flood()
        trace = self.path("trace")
        # LeakSanitizer cannot run under ptrace, and says so on stderr.
        asan = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        strace = ["env", f"ASAN_OPTIONS={asan}", "strace", "-f", "-qq", "-e", "trace=write", "-e", "signal=none",
                  "-s", "4096", "-o", trace]
        for command, count in ((["export", "--format", "jsonl", "--encoding", "UTF-8", "flood.dat", "missing.dat"],
                                10 + 10 + 2 + 1),
                               (["collate", "--into", "office.db", "flood.dat"], 1 + 10 + 1 + 1)):
            done = tool_status(strace + [RECORDS, *command], self.folder)
            self.assertEqual(done[0], 1, done)
            with open(trace, encoding="ascii") as f:
                messages = re.findall(r'write\(2, "(.*)", \d+\)', f.read())
            self.assertEqual(len(messages), count, command)
            for message in messages:
                self.assertRegex(message, r"\A[^\\]*(\\[^n][^\\]*)*\\n\Z", command)

    def test_days_from_and_to_are_inclusive(self):
        for days, surnames in ((["--from", "2026-12-07"], ["Turing"]), (["--to", "2026-12-06"], ["Lovelace"]),
                               (["--from", "2026-12-06", "--to", "2026-12-07"], ["Lovelace", "Turing"]),
                               (["--from", "2026-12-08"], [])):
            done = export(self.folder, "--format", "jsonl", *days, "datas.dat")
            self.assertEqual(done.returncode, 0)
            got = [json.loads(line)["surname"].strip('"') for line in done.stdout.splitlines()]
            self.assertEqual(got, surnames, days)

    def test_an_answer_that_is_not_utf8(self):
        enter(self.folder, ADA.replace("Lon,don", "K\xf6ln").encode("latin-1"), "2026-12-08 09:00:00")
        done = export(self.folder, "--format", "jsonl", "--encoding", "utf-8", "--from", "2026-12-08", "datas.dat")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stderr, b"datas.dat:68: not UTF-8\n")
        self.assertEqual(json.loads(done.stdout)["place_of_birth"], "K\ufffdln")
        as_csv = export(self.folder, "--from", "2026-12-08", "datas.dat")
        self.assertIn(b",K\xef\xbf\xbdln,", as_csv.stdout)  # CSV too is UTF-8 throughout
        as_latin1 = export(self.folder, "--encoding", "ISO-8859-1", "--from", "2026-12-08", "datas.dat")
        self.assertEqual((as_latin1.returncode, as_latin1.stderr), (0, b""))
        self.assertIn(",Köln,".encode(), as_latin1.stdout)

    def test_a_missing_file_among_good_ones(self):
        os.symlink("datas.dat", self.path("again.dat"))
        done = export(self.folder, "datas.dat", "missing.dat", "again.dat")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"profiledesk-records: missing.dat: No such file or directory\n")
        sources = [row[0] for row in csv.reader(io.StringIO(done.stdout.decode(), newline=""))][1:]
        self.assertEqual(sources, ["datas.dat", "datas.dat", "again.dat", "again.dat"])

    def test_usage_errors_get_one_line_and_status_2(self):
        for args in (["--format", "xml", "datas.dat"], ["--from", "2026-02-30", "datas.dat"], [],
                     ["--to", "yesterday", "datas.dat"], ["--colour", "datas.dat"], ["--to", "2100-02-29", "datas.dat"],
                     ["--from", "2026-04-31", "datas.dat"], ["--to", "2024-04-31", "datas.dat"],
                     ["--from", "2026-12-00", "datas.dat"]):
            done = export(self.folder, *args)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(len(done.stderr.splitlines()), 1, args)
            self.assertTrue(done.stderr.startswith(b"profiledesk-records: "), args)
            self.assertEqual(done.stdout, b"", args)
        for leap_day in ("2024-02-29", "2000-02-29"):
            self.assertEqual(export(self.folder, "--from", leap_day, "datas.dat").returncode, 0, leap_day)

    def test_a_missing_or_misspelt_command_lists_the_commands_and_dates_the_wrong_way_round_are_refused(self):
        listing = (b": the commands are check, export, collate, report, find, show, correct, review, forget or serve "
                   b"(profiledesk-records --help tells more)\n")
        for args, start in (([], b"a command is needed"), (["exprot", "datas.dat"], b"no command 'exprot'"),
                            (["--colour", "exprot"], b"no command 'exprot'")):
            done = tool_status([RECORDS, *args], self.folder)
            self.assertEqual(done, (2, b"", b"profiledesk-records: " + start + listing), args)
        for command in ("export", "report"):
            done = tool_status([RECORDS, command, "--from", "2026-12-07", "--to", "2026-12-06", "datas.dat"],
                               self.folder)
            self.assertEqual(done, (2, b"", b"profiledesk-records: --from 2026-12-07 is later than --to 2026-12-06\n"),
                             command)
        one_day = export(self.folder, "--from", "2026-12-06", "--to", "2026-12-06", "datas.dat")
        self.assertEqual((one_day.returncode, len(one_day.stdout.splitlines())), (0, 2))

    def test_output_file_is_whole_or_absent(self):
        with open(self.path("datas.dat"), "rb") as f:
            before = f.read()
        refused = export(self.folder, "-o", "./datas.dat", "datas.dat")
        self.assertEqual(refused.returncode, 2)
        with open(self.path("datas.dat"), "rb") as f:
            self.assertEqual(f.read(), before)

        done = export(self.folder, "-o", "out.csv", "datas.dat")
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))
        with open(self.path("out.csv"), "rb") as f:
            self.assertEqual(f.read().count(b"\r\n"), 3)

        # Many records and a file-size limit: the write fails part-way through.
        with open(self.path("big.dat"), "wb") as f:
            f.write(before * 2000)
        small_limit = subprocess.run(
            f"ulimit -f 64; exec '{RECORDS}' export -o out.csv big.dat", shell=True, cwd=self.folder,
            capture_output=True, timeout=60, start_new_session=True, check=False)
        self.assertEqual(small_limit.returncode, 1)
        self.assertEqual(small_limit.stderr, b"profiledesk-records: out.csv: File too large\n")
        with open(self.path("out.csv"), "rb") as f:
            self.assertEqual(f.read().count(b"\r\n"), 3, "the earlier output stays as it was")
        self.assertEqual(sorted(os.listdir(self.folder)), ["big.dat", "datas.dat", "out.csv"])

        missing = export(self.folder, "-o", "no/such/folder/out.csv", "datas.dat")
        self.assertEqual(missing.returncode, 1)
        self.assertEqual(missing.stderr, b"profiledesk-records: no/such/folder/out.csv: No such file or directory\n")

    def test_an_empty_or_missing_output_or_field_is_a_usage_error(self):
        # Each once did the default without a word: standard output, or every answer searched.
        told = b"profiledesk-records: --output: name the FILE to write to (without -o, the output goes to " \
               b"standard output)\n"
        for args in (["export", "-o", "", "datas.dat"], ["export", "datas.dat", "-o"], ["report", "-o", "", "datas.dat"]):
            self.assertEqual(tool_status([RECORDS, *args], self.folder), (2, b"", told), args)
        self.assertEqual(tool_status([RECORDS, "find", "--field", "", "Ada", "datas.dat"], self.folder),
                         (2, b"", b"profiledesk-records: --field: name an answer (surname), or leave --field out "
                                  b"to look in every answer\n"))
        # An output onto its own input would replace the desk's records with their rows.
        with open(self.path("datas.dat"), "rb") as f:
            records = f.read()
        self.assertEqual(tool_status([RECORDS, "export", "-o", "datas.dat", "datas.dat"], self.folder),
                         (2, b"", b"profiledesk-records: datas.dat: is one of the files to export; name another "
                                  b"output file\n"))
        with open(self.path("datas.dat"), "rb") as f:
            self.assertEqual(f.read(), records)

    @unittest.skipUnless(os.path.ismount("/sys"), "needs /sys, where no one may make a file")
    def test_an_output_whose_folder_refuses_it_names_the_folder(self):
        done = export(self.folder, "-o", "/sys/out.csv", "datas.dat")
        self.assertEqual(done.returncode, 1)
        self.assertRegex(done.stderr, rb"^profiledesk-records: /sys: (Permission denied|Read-only file system) "
                                      rb"\(the folder of /sys/out.csv\)\n$")

    def test_json_rows_escape_every_kind_of_answer_and_keep_each_figure_exact(self):
        with open(self.path("datas.dat"), "rb") as f:
            record = b"\n".join(f.read().split(b"\n", 30)[:30]) + b"\n"
        swaps = [(b"Ring-Road", b'a"b\\c/d'), (b"Kofi", b"\x01\x08\x1b\x1f\x7f"), (b"Cocoa-Co", "\u2028\u00e9".encode()),
                 (b"Repairs", b"K\xf6ln"), (b"West-Lib", b"\\u0041")]
        figures = [(b"-0", b"1.52416e+12"), (b"4e-320", b"-1e-05")]
        with open(self.path("special.dat"), "wb") as f:
            for years, later in figures:
                # The years ahead are written three times: in the sentence, the multiple and the sum.
                text = record.replace(b"2.5 ", years + b" ").replace(b":: 38.5 .", b":: " + later + b" .")
                for old, answer in swaps:
                    self.assertEqual(text.count(old), 1, old)
                    text = text.replace(old, answer)
                f.write(text)
        done = export(self.folder, "--format", "jsonl", "--encoding", "UTF-8", "special.dat")
        self.assertEqual((done.returncode, done.stderr), (0, b"special.dat:15: not UTF-8\nspecial.dat:45: not UTF-8\n"))
        answers = ('"first_name":"Ada","surname":"Lovelace","place_of_birth":"Lon,don","date_of_birth":"10-12-1815",'
                   '"age":"36","education_centre":"Inst","street":"a\\"b\\\\c/d","coordinator":"\\u0001\\b\\u001b\\u001f\x7f",'
                   '"nearby_business":"Mill","productivity_company":"\u2028\u00e9","maintenance_company":"K\ufffdln",'
                   '"zonal_library":"\\\\u0041","library_fee":"250","shopping_centre":"Mall","nearest_school":"School",')
        expected = ('{"source":"special.dat","record":1,"line":1,"entered_at":"2026-12-06T15:53",' + answers +
                    '"years_ahead":-0.0,"age_after_years":1524160000000.0}\n'
                    '{"source":"special.dat","record":2,"line":31,"entered_at":"2026-12-06T15:53",' + answers +
                    '"years_ahead":4e-320,"age_after_years":-1e-05}\n')
        self.assertEqual(done.stdout.decode(), expected)
        back = tool(["jq", "-c", "[.street, .coordinator, .zonal_library, .years_ahead, .age_after_years]"],
                    self.folder, done.stdout)
        self.assertEqual(back.splitlines()[0], '["a\\"b\\\\c/d","\\u0001\\b\\u001b\\u001f\\u007f","\\\\u0041",-0,1524160000000]')

    def test_rows_of_doubled_quotes_across_the_output_buffers_end(self):
        # Rows nearly all quotes, each twice its answers' size once quoted, of several lengths,
        # so that rows fall across the end of the 1 MiB output buffer at every distance.
        with open(self.path("datas.dat"), "rb") as f:
            record = f.read().split(b"\n", 30)[:30]
        record = b"\n".join(record) + b"\n"
        words = [b"Ring-Road", b"Kofi", b"Cocoa-Co", b"Repairs", b"West-Lib"]
        for word in words:
            self.assertEqual(record.count(word), 1, word)
        expected = []
        with open(self.path("quotes.dat"), "wb") as f:
            for n in range(1200):
                quotes = b'"' * (300 + 97 * (n % 7))
                text = record
                for word in words:
                    text = text.replace(word, quotes)
                f.write(text)
                expected.append(quotes.decode())
        done = export(self.folder, "quotes.dat")
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        rows = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))[1:]
        self.assertEqual(len(rows), len(expected))
        columns = [HEADER.index(name) for name in ("street", "coordinator", "productivity_company",
                                                   "maintenance_company", "zonal_library")]
        for n, row in enumerate(rows):
            self.assertEqual([row[c] for c in columns], [expected[n]] * len(columns), n)

    def test_a_read_error_in_the_middle_of_a_file_is_told_as_itself(self):
        shim = os.environ.get("PROFILEDESK_READ_FAILS")
        if not shim:
            self.skipTest("no read-failing shim in this build")
        with open(self.path("datas.dat"), "rb") as f:
            record = f.read().split(b"\n", 30)[:30]
        # Several pieces of the reader's 1 MiB, the first ending inside a record.
        with open(self.path("big.dat"), "wb") as f:
            f.write((b"\n".join(record) + b"\n") * 1000)
        env = dict(os.environ, LD_PRELOAD=preloadable(shim), PROFILEDESK_READ_FAILS_FOR=self.path("big.dat"),
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        for command in (["check"], ["export", "--format", "jsonl"]):
            done = subprocess.run([RECORDS, *command, "big.dat"], cwd=self.folder, env=env, capture_output=True,
                                  timeout=60, start_new_session=True, preexec_fn=bounded, check=False)
            self.assertEqual(done.returncode, 1, command)
            self.assertEqual(done.stderr, b"profiledesk-records: big.dat: Input/output error\n", command)
            self.assertNotIn(b"whole records", done.stdout, command)

    def test_a_full_standard_output_is_a_failure_with_its_reason(self):
        with open(self.path("datas.dat"), "rb") as f:
            data = f.read()
        with open(self.path("big.dat"), "wb") as f:
            f.write(data * 2000)
        for command in (["check", "datas.dat"], ["export", "datas.dat"], ["export", "big.dat", "datas.dat"]):
            with open("/dev/full", "wb") as full:
                done = subprocess.run([RECORDS, *command], cwd=self.folder, stdout=full, stderr=subprocess.PIPE,
                                      timeout=60, start_new_session=True, preexec_fn=bounded, check=False)
            self.assertEqual(done.returncode, 1, command)
            self.assertEqual(done.stderr,
                             b"profiledesk-records: could not write to standard output: No space left on device\n",
                             command)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
