"""profiledesk-records report: the figures on the page match records the desk program wrote
at known times with known answers, stored answers stay text (in a real browser too), the
page fetches nothing, and failures are told as check and export tell them.

Usage: report_test.py DESK_PROGRAM RECORDS_PROGRAM WORK_FOLDER
"""

import html.parser
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

DESK, RECORDS, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
del sys.argv[1:4]
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib  # noqa: E402
FAKETIME_LIB = faketime_lib()

IMG = "<img/src=x/onerror=alert(1)>"
SCRIPT = '"--><script>alert(1)</script>'
CANARY = "<img/src=http://canary.invalid/phoned-home>"
NOT_UTF8 = b"\xff\xfeX"

# (entered at, place of birth, age as typed, street, nearest school) of each record; the
# other answers are the same in every record.
FILE_A = [
    ("2026-12-01 09:05:00", "Accra", "41", "Ring-Road", IMG),
    ("2026-12-01 09:40:00", "Accra", "44", "Ring-Road", IMG),
    ("2026-12-01 17:10:00", "Lagos", "45", "Street-03", "City-School"),
    ("2026-12-03 00:30:00", "Kumasi", "forty", "Street-04", "City-School"),
    ("2026-12-03 23:59:00", "Accra", "7", "Street-05", CANARY),
    ("2026-12-04 12:00:00", SCRIPT, "0", "Street-06", "City-School"),
    ("2026-12-04 12:00:00", "&amp;", "-3", "Street-07", "City-School"),
]
FILE_B = [
    ("2026-11-30 10:00:00", "{{title}}", "19", "Street-08", "City-School"),
    ("2026-11-30 10:15:00", "Lagos", "20", "Street-09", "City-School"),
    ("2026-12-01 10:00:00", NOT_UTF8, "1e3", "Street-10", "City-School"),
    ("2026-12-05 08:00:00", "Accra", "44", "Street-11", "City-School"),
    ("2026-12-05 08:00:00", "Lagos", "39", "Street-12", "City-School"),
    ("2026-12-05 08:59:00", "Tamale", "040", "Street-13", "City-School"),
]


def as_bytes(text):
    return text if isinstance(text, bytes) else text.encode()


def write_records(folder, records):
    """One desk run a record, at the record's time, as the desk's users would enter it."""
    os.makedirs(folder)
    for when, place, age, street, school in records:
        typed = b" ".join([b"1 Jane Roe", as_bytes(place), b"01-01-1985", as_bytes(age), b"41 -2.5",
                           b"Tech-Institute", as_bytes(street), b"Kofi Mill Cocoa-Co Repairs West-Library 250",
                           b"Accra-Mall", as_bytes(school)]) + b"\n"
        # libfaketime comes before the sanitizers' runtime in a sanitizer build.
        env = dict(os.environ, TZ="UTC", FAKETIME=when, LD_PRELOAD=FAKETIME_LIB,
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        subprocess.run([DESK], cwd=folder, input=typed, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, start_new_session=True, timeout=30, check=True)
    return os.path.join(folder, "datas.dat")


def report(*args):
    return subprocess.run([RECORDS, "report", *args], capture_output=True, timeout=60,
                          start_new_session=True, check=False)


class Page(html.parser.HTMLParser):
    """The page's tables by id (rows of cell texts), its title, and every element seen."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.tables, self.elements, self.title, self.text = {}, [], "", ""
        self.boxes = {}  # each table's id to the classes of the boxes around it
        self._table, self._cell, self._in_title, self._in_svg, self._divs = None, None, False, 0, []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.elements.append((tag, dict(attrs)))
        self._in_svg += tag == "svg"
        if tag == "div":
            self._divs.append(dict(attrs).get("class", ""))
        if tag == "table":
            name = dict(attrs).get("id", f"table{len(self.tables)}")
            self._table = self.tables.setdefault(name, [])
            self.boxes[name] = list(self._divs)
        elif tag == "tr" and self._table is not None:
            self._table.append([])
        elif tag in ("td", "th") and self._table is not None:
            self._cell = ""
        elif tag == "title" and not self._in_svg:
            self._in_title = True

    def handle_endtag(self, tag):
        if tag == "div":
            self._divs.pop()
        if tag in ("td", "th") and self._cell is not None:
            self._table[-1].append(self._cell)
            self._cell = None
        elif tag == "table":
            self._table = None
        elif tag == "title":
            self._in_title = False
        elif tag == "svg":
            self._in_svg -= 1

    def handle_data(self, data):
        self.text += data
        if self._cell is not None:
            self._cell += data
        if self._in_title:
            self.title += data

    def rows(self, table):
        return [row for row in self.tables[table] if row and not row[0] in ("#", "Day", "Hour", "Age", "Desk")]


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.folder = tempfile.mkdtemp(dir=WORK, prefix="report-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)  # also when the set-up fails part-way
        cls.file_a = write_records(os.path.join(cls.folder, "a"), FILE_A)
        cls.file_b = write_records(os.path.join(cls.folder, "b"), FILE_B)
        cls.broken = os.path.join(cls.folder, "broken.dat")
        with open(cls.broken, "wb") as f:
            f.write(b"not a record\n")
        cls.page_path = os.path.join(cls.folder, "page.html")
        cls.result = report("-o", cls.page_path, "--title", "Intake <b>week</b> & {{records}}",
                         cls.file_a, cls.file_b, cls.broken)
        with open(cls.page_path, encoding="utf-8") as f:
            cls.html = f.read()
        cls.page = Page(cls.html)
        # One line for the file with an answer that is not UTF-8, however many such answers.
        cls.not_utf8 = f"{cls.file_b}: not UTF-8 (a Windows desk? try --encoding CP1252)\n"

    def test_totals_and_problems(self):
        self.assertEqual(self.result.returncode, 1)  # the broken file, yet the page is written
        self.assertRegex(self.result.stderr.decode(),
                         rf"^{re.escape(self.not_utf8)}{re.escape(self.broken)}:1: \S.*\n$")
        self.assertEqual(self.page.tables["table0"], [
            ["Records", "13"], ["Files", "3"], ["First entry", "2026-11-30 10:00"],
            ["Last entry", "2026-12-05 08:59"], ["Problems", "1"]])
        self.assertEqual(self.page.rows("files"), [
            [self.file_a, self.file_a, "7", "0", ""], [self.file_b, self.file_b, "6", "0", ""],
            [self.broken, self.broken, "0", "1", ""]])
        self.assertEqual([name for name in os.listdir(self.folder) if ".partial-" in name], [])

    def test_the_rules_records_break_add_up_over_files(self):
        def rules(*files):
            return {rule: int(n) for rule, n in Page(report(*files).stdout.decode()).rows("look-rules")[1:]}
        a, b, both = rules(self.file_a), rules(self.file_b), rules(self.file_a, self.file_b)
        self.assertTrue(a.keys() & b.keys())
        self.assertEqual(both, {rule: a.get(rule, 0) + b.get(rule, 0) for rule in a.keys() | b.keys()})

    def test_days_hours_and_ages(self):
        self.assertEqual(self.page.rows("days-table"), [
            ["2026-11-30", "2"], ["2026-12-01", "4"], ["2026-12-02", "0"], ["2026-12-03", "2"],
            ["2026-12-04", "2"], ["2026-12-05", "3"]])
        hours = {0: 1, 8: 3, 9: 2, 10: 3, 12: 2, 17: 1, 23: 1}
        self.assertEqual(self.page.rows("hours-table"), [[str(h), str(hours.get(h, 0))] for h in range(24)])
        self.assertEqual(self.page.rows("ages-table"), [
            ["-5\u2013-1", "1"], ["0\u20134", "1"], ["5\u20139", "1"], ["10\u201314", "0"], ["15\u201319", "1"],
            ["20\u201324", "1"], ["25\u201329", "0"], ["30\u201334", "0"], ["35\u201339", "1"],
            ["40\u201344", "4"], ["45\u201349", "1"]])
        self.assertIn("2 age answers were not whole numbers", self.page.text)
        # A table of a day's hours or fewer rows shows whole: no box to scroll.
        for table in ("days-table", "hours-table", "ages-table"):
            self.assertNotIn("scroll", self.page.boxes[table], table)
        # Each table's figures are drawn: one bar a row.
        self.assertEqual(sum(1 for tag, _ in self.page.elements if tag == "rect"), 6 + 24 + 11)

    def test_most_frequent_answers(self):
        self.assertEqual(self.page.rows("place-of-birth"), [
            ["1", "Accra", "4", "30.8 %"], ["2", "Lagos", "3", "23.1 %"], ["3", SCRIPT, "1", "7.7 %"],
            ["4", "&amp;", "1", "7.7 %"], ["5", "Kumasi", "1", "7.7 %"], ["6", "Tamale", "1", "7.7 %"],
            ["7", "{{title}}", "1", "7.7 %"], ["8", "\ufffd\ufffdX", "1", "7.7 %"]])
        # Twelve streets: the ten shown are the most frequent, then the first by their bytes.
        self.assertEqual(self.page.rows("street"),
                         [["1", "Ring-Road", "2", "15.4 %"]] +
                         [[str(n - 1), f"Street-{n:02}", "1", "7.7 %"] for n in range(3, 12)])
        self.assertIn("Street: 12 distinct answers", self.page.text)
        self.assertEqual(self.page.rows("nearest-school"), [
            ["1", "City-School", "10", "76.9 %"], ["2", IMG, "2", "15.4 %"], ["3", CANARY, "1", "7.7 %"]])
        self.assertEqual(self.page.rows("shopping-centre"), [["1", "Accra-Mall", "13", "100.0 %"]])
        captions = re.findall(r"<caption>([^<]*)</caption>", self.html)
        self.assertIn("Shopping centre: 1 distinct answer", captions)

    def test_headings_stay_with_what_follows_them_in_print(self):
        printed = re.search(r"@media print \{(.*?)\n\}", self.html, re.S).group(1)
        self.assertRegex(printed, r"\bh2\b[^{]*\{[^}]*break-after: avoid")

    def test_answers_and_title_stay_text(self):
        self.assertEqual(self.page.title, "Intake <b>week</b> & {{records}}")
        for tag, attrs in self.page.elements:
            self.assertNotIn(tag, ("img", "script", "b"))
            self.assertFalse([name for name in attrs if name.startswith("on") or name == "src"])
        self.assertNotIn("<script", self.html)
        self.assertNotIn("\ufffd", self.page.title)
        # The page may load nothing, and run nothing, whatever it holds.
        policies = [attrs.get("content") for tag, attrs in self.page.elements
                    if tag == "meta" and attrs.get("http-equiv", "").lower() == "content-security-policy"]
        self.assertEqual(policies, ["default-src 'none'; style-src 'unsafe-inline'"])

    def test_bars_stand_on_the_axis(self):
        feet = [float(attrs["y1"]) for tag, attrs in self.page.elements if tag == "line"]
        bars = [attrs for tag, attrs in self.page.elements if tag == "rect"]
        self.assertTrue(feet and bars)
        foot = max(feet)
        for bar in bars:
            # Each figure is written to a tenth, so the two may round apart by one.
            self.assertAlmostEqual(float(bar["y"]) + float(bar["height"]), foot, delta=0.11, msg=bar)
            self.assertGreaterEqual(float(bar["height"]), 0)
        self.assertTrue(any(float(bar["height"]) > 100 for bar in bars))

    def test_dates_limit_the_records(self):
        out = os.path.join(self.folder, "limited.html")
        run = report("--from", "2026-12-01", "--to", "2026-12-04", "-o", out, self.file_a, self.file_b)
        self.assertEqual((run.returncode, run.stderr.decode()), (0, self.not_utf8))
        with open(out, encoding="utf-8") as f:
            page = Page(f.read())
        self.assertEqual(page.tables["table0"][0], ["Records", "8"])
        self.assertEqual(page.rows("days-table"), [
            ["2026-12-01", "4"], ["2026-12-02", "0"], ["2026-12-03", "2"], ["2026-12-04", "2"]])
        self.assertIn("from 2026-12-01 to 2026-12-04", page.text)
        self.assertEqual(page.rows("files"), [[self.file_a, self.file_a, "7", "0", ""],
                                              [self.file_b, self.file_b, "1", "0", ""]])

    def test_negative_ages_band_at_multiples_of_five(self):
        when = "2026-12-02 10:00:00"
        path = write_records(os.path.join(self.folder, "ages"),
                             [(when, "Accra", age, "Ring-Road", "City-School") for age in ("-1", "-5", "-6")])
        run = report(path)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(Page(run.stdout.decode()).rows("ages-table"), [["-10\u2013-6", "1"], ["-5\u2013-1", "2"]])

    def test_controls_odd_names_and_ages_at_the_limits_stay_harmless(self):
        when = "2026-12-02 10:00:00"
        records = [(when, b"A\x7fB", "9223372036854775807", "Ring-Road", "City-School"),
                   (when, b"C\xc2\x85D", "-9223372036854775808", "Ring-Road", "City-School"),
                   (when, b"E\xc2\x9fF", "1000000000000000000", "Ring-Road", "City-School"),
                   (when, "Accra", "-1000000000000000000", "Ring-Road", "City-School")]
        path = write_records(os.path.join(self.folder, "odd"), records)
        named = os.path.join(self.folder, "odd", "<img src=x onerror=alert(1)>.dat")
        os.rename(path, named)
        run = report("--title", b"Week\x01 caf\xe9", named)
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        text = run.stdout.decode()
        for raw in ("\x7f", "\x85", "\x9f", "\x01"):
            self.assertNotIn(raw, text)
        page = Page(text)
        self.assertEqual(page.title, "Week\ufffd caf\ufffd")
        self.assertCountEqual([row[1] for row in page.rows("place-of-birth")],
                         ["A\ufffdB", "Accra", "C\ufffdD", "E\ufffdF"])
        self.assertEqual(page.rows("files"), [[named, named, "4", "0", ""]])
        self.assertNotIn("img", [tag for tag, _ in page.elements])
        # Ages past a billion billion are not taken as numbers: banding them could overflow.
        self.assertEqual(page.rows("ages-table"), [["-1000000000000000000\u2013-999999999999999996", "1"],
                                                   ["1000000000000000000\u20131000000000000000004", "1"]])
        self.assertIn("2 age answers were not whole numbers", page.text)

    def test_answers_past_what_is_shown_are_cut_with_their_length(self):
        # 200 characters are shown. Of 300 four-byte ones, only the 800 bytes kept are at hand,
        # all of them shown: the length still tells that the answer went on.
        when = "2026-12-02 10:00:00"
        places = ("\U0001D11E" * 300, "a" * 200, "b" * 201)
        path = write_records(os.path.join(self.folder, "long"),
                             [(when, place, "30", "Ring-Road", "City-School") for place in places])
        run = report(path)
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        self.assertCountEqual([row[1] for row in Page(run.stdout.decode()).rows("place-of-birth")],
                              ["\U0001D11E" * 200 + "\u2026 (1,200 bytes)", "a" * 200, "b" * 200 + "\u2026 (201 bytes)"])

    def test_days_without_records_are_drawn_up_to_400_days(self):
        def one(name, when):
            return write_records(os.path.join(self.folder, name), [(when, "Accra", "30", "Ring-Road", "School")])
        first = one("span-first", "2025-01-01 09:00:00")
        for last, days, rows in (("2026-02-04 09:00:00", 399, 400), ("2026-02-05 09:00:00", 400, 2)):
            run = report(first, one(f"span-{days}", last))
            self.assertEqual(run.returncode, 0)
            table = Page(run.stdout.decode()).rows("days-table")
            self.assertEqual(len(table), rows, days)
            self.assertEqual((table[0], table[-1]), (["2025-01-01", "1"], [last[:10], "1"]), days)

    def test_standard_output_and_empty_report(self):
        run = report("--from", "2030-01-01", self.file_a)
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        page = Page(run.stdout.decode())
        self.assertEqual(page.tables["table0"][0], ["Records", "0"])
        self.assertEqual(page.rows("place-of-birth"), [])
        self.assertIn("Place of birth: 0 distinct answers", page.text)
        self.assertEqual(sum(1 for tag, _ in page.elements if tag == "svg"), 0)

    def test_output_that_is_an_input_is_refused(self):
        with open(self.file_a, "rb") as f:
            before = f.read()
        linked = os.path.join(self.folder, "a", "..", "a", "datas.dat")
        run = report("-o", linked, self.file_b, self.file_a)
        self.assertEqual(run.returncode, 2)
        self.assertIn(b"is one of the files to report on", run.stderr)
        with open(self.file_a, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_unreadable_file_is_told_and_the_page_still_written(self):
        out = os.path.join(self.folder, "missing.html")
        missing = os.path.join(self.folder, "no-such.dat")
        run = report("-o", out, missing, self.file_b, self.broken)
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr.decode(),
                         rf"^profiledesk-records: {re.escape(missing)}: No such file or directory\n"
                         rf"{re.escape(self.not_utf8)}{re.escape(self.broken)}:1: ")
        with open(out, encoding="utf-8") as f:
            page = Page(f.read())
        self.assertEqual(page.rows("files"), [[missing, missing, "0", "0", f"{missing}: No such file or directory"],
                                              [self.file_b, self.file_b, "6", "0", ""],
                                              [self.broken, self.broken, "0", "1", ""]])
        # The totals add up the column; a file not read is counted apart.
        self.assertEqual(page.tables["table0"][0], ["Records", "6"])
        self.assertEqual(page.tables["table0"][4:], [["Problems", "1"], ["Files not read", "1"]])

    def test_unwritable_output_fails_and_leaves_nothing(self):
        folder = os.path.join(self.folder, "not-a-folder")
        with open(folder, "w", encoding="utf-8"):
            pass
        run = report("-o", os.path.join(folder, "page.html"), self.file_b)
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr.decode(), rf"^{re.escape(self.not_utf8)}profiledesk-records: "
                                              r".*not-a-folder: Not a directory \(the folder of .*not-a-folder/page\.html\)\n$")

    def test_tidy_finds_no_errors(self):
        if not shutil.which("tidy"):
            self.skipTest("tidy is not installed")
        run = subprocess.run(["tidy", "-e", "-q", self.page_path], capture_output=True, timeout=60, check=False)
        self.assertEqual(run.returncode, 0, run.stderr.decode())

    def test_in_a_browser(self):
        chromium = shutil.which("chromium")
        if chromium is None:
            if os.path.exists("/etc/debian_version"):
                self.fail("chromium is not installed (apt-get install chromium)")
            self.skipTest("chromium is not installed")
        profile = os.path.join(self.folder, "chromium-profile")
        net_log = os.path.join(self.folder, "net-log.json")
        shot = os.path.join(self.folder, "page.png")
        url = "file://" + self.page_path
        # A proxy where nothing listens: whatever is asked for is logged, and nothing leaves.
        common = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--proxy-server=http://127.0.0.1:9", f"--user-data-dir={profile}", "--window-size=1000,1400"]
        dom = self.browse(common + [f"--log-net-log={net_log}", "--dump-dom", url])
        self.browse(common + [f"--screenshot={shot}", url])
        with open(shot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

        page = Page(dom)
        self.assertEqual(page.title, "Intake <b>week</b> & {{records}}")
        made = {"html", "head", "meta", "title", "style", "body", "h1", "h2", "p", "table", "caption", "thead",
                "tbody", "tr", "th", "td", "div", "section", "span", "svg", "line", "rect", "text"}
        attributes = {"lang", "charset", "http-equiv", "content", "name", "id", "class", "viewbox", "width",
                      "height", "role", "aria-label", "x", "y", "x1", "y1", "x2", "y2", "text-anchor"}
        for tag, attrs in page.elements:
            self.assertIn(tag, made)
            self.assertLessEqual(set(attrs), attributes, tag)
        self.assertEqual(page.rows("nearest-school")[1][1], IMG)
        self.assertEqual(page.rows("place-of-birth")[2][1], SCRIPT)

        with open(net_log, encoding="utf-8") as f:
            log = f.read()
        self.assertNotIn("canary.invalid", log)
        asked = set(re.findall(r'"url":"([^"]*)"', log))
        # The browser's own services may call home; the page may ask for nothing but itself.
        own = re.compile(r"^https?://([a-z0-9.-]+\.)?(google\.com|googleapis\.com|gvt1\.com|gstatic\.com)[/:]")
        self.assertLessEqual({u for u in asked if not own.match(u)}, {url})

    def browse(self, command):
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        try:
            out, _ = process.communicate(timeout=120)
        finally:
            # Its helpers too, whether it finished or not.
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()
        self.assertEqual(process.returncode, 0)
        return out.decode()


if __name__ == "__main__":
    unittest.main()
