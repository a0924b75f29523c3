"""profiledesk-records serve: the office's work in a real browser (headless Chromium driven by
Selenium), on SQLite and on the suite's PostgreSQL server: a clerk's day, hostile answers, the
printed address's key, requests from another site, the keyboard alone, the bounds on clients,
and stopping. Every view and browser a case starts is stopped by its PID when the case ends.

Usage: serve_test.py PROFILEDESK_RECORDS PROFILEDESK WORK_FOLDER [POSTGRES_STATE_FILE]
"""

import html
import http.client
import os
import re
import select
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse

RECORDS, DESK, WORK = (os.path.abspath(arg) for arg in sys.argv[1:4])
STATE_FILE = sys.argv[4] if len(sys.argv) > 4 and sys.argv[4] != "-" else None  # "-": none
del sys.argv[1:5 if len(sys.argv) > 4 else 4]
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from machine import faketime_lib  # noqa: E402

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    webdriver = None

IMG = "<img/src=x/onerror=alert(1)>"
SCRIPT = '"--><script>alert(1)</script>'
ESCAPE = "Bell\x1b[31m"
HOSTILE_DESK = "<b>north"  # no slash: a name holding one is a path
CLERK_PASSWORD = "clerk-pass"
VIEWER_PASSWORD = "viewer-pass"

# (first name, surname, place of birth, age, age again) of each record, entered in this order;
# each was born on 1 January 1990.
PEOPLE = [
    ("Ada", "Lovelace", "London", "36", "36"),
    ("Hans", "MÜLLER", "İstanbul", "36", "36"),
    (ESCAPE, IMG, SCRIPT, "35", "40"),  # the two ages disagree: it needs a look
    ("Kofi", "Mensah", "Accra", "36", "36"),
]


def write_desk(folder, people=PEOPLE, hour=15):
    os.makedirs(folder)
    for minute, (first, surname, place, age, again) in enumerate(people):
        typed = " ".join(["1", first, surname, place, "01-01-1990", age, again, "5", "Tech-Institute",
                          "Ring-Road", "Kofi", "Mill", "Cocoa-Co", "Repairs", "West-Library", "250",
                          "Accra-Mall", "Park-School"]) + "\n"
        env = dict(os.environ, TZ="UTC", FAKETIME=f"2026-12-06 {hour}:{minute:02}:00", LD_PRELOAD=faketime_lib(),
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        subprocess.run([DESK], cwd=folder, input=typed.encode(), env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, start_new_session=True, timeout=30, check=True)
    return os.path.join(folder, "datas.dat")


class View:
    """A running view, killed by its PID when the case ends, whatever happened."""

    def __init__(self, case, db, *args, env=None, ignore_hangup=False):
        def ignore():
            signal.signal(signal.SIGHUP, signal.SIG_IGN)
        self.process = subprocess.Popen([RECORDS, "serve", "--db", db, "--no-browser", *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, bufsize=0,
                                        start_new_session=True, preexec_fn=ignore if ignore_hangup else None)
        case.addCleanup(self.kill)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        line = self.process.stdout.readline().decode() if ready else ""
        found = re.match(r"Serving .* at http://(127\.0\.0\.1|0\.0\.0\.0):(\d+)(/\S*)\n$", line)
        if not found:
            self.kill()
            case.fail(f"the view did not start: {line!r} {self.process.stderr.read().decode()!r}")
        self.port = int(found[2])
        self.origin = f"http://127.0.0.1:{self.port}"
        self.address = self.origin + found[3]
        # On every address of the computer, the key is printed for the clerks to sign in with.
        self.key = self.process.stdout.readline().decode() if found[1] == "0.0.0.0" else None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=30)
        self.process.stdout.close()
        self.process.stderr.close()

    def stop(self, number):
        """Sends the signal; the status, the rest of standard output and standard error."""
        os.kill(self.process.pid, number)
        out, err = self.process.communicate(timeout=30)
        return self.process.returncode, out.decode(), err.decode()

    def request(self, method, path, headers=None, body=None, host=None):
        """Status, headers (names in lower case) and body of one request."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            sent = {"Host": host or f"127.0.0.1:{self.port}", **(headers or {})}
            if body is not None:
                body = urllib.parse.urlencode(body)
                sent["Content-Type"] = "application/x-www-form-urlencoded"
            connection.request(method, path, body=body, headers=sent)
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read().decode()
        finally:
            connection.close()

    def enter(self):
        """A session's cookie, as a browser gets it from the printed address."""
        status, headers, _ = self.request("GET", self.address[len(self.origin):])
        assert status == 303, status
        return headers["set-cookie"].split(";")[0]

    def form(self, cookie, path):
        """The form token and the record's revision on a page."""
        status, _, page = self.request("GET", path, {"Cookie": cookie})
        assert status == 200, (status, page)
        return re.search(r'name="csrf" value="([0-9a-f]+)"', page)[1], re.search(r'name="revision" value="(\d+)"',
                                                                               page)[1]


class Browser:
    """Headless Chromium under chromedriver, its temporary files in the work folder, killed with
    every process it started when the case ends."""

    def __init__(self, case, name):
        if webdriver is None or not shutil.which("chromedriver"):
            if os.path.exists("/etc/debian_version"):
                case.fail("python3-selenium and chromium-driver are not installed")
            case.skipTest("no Selenium or chromedriver")
        scratch = os.path.join(WORK, "browser-" + name)
        shutil.rmtree(scratch, ignore_errors=True)
        os.makedirs(os.path.join(scratch, "tmp"))
        options = webdriver.ChromeOptions()
        # The browser itself, not Debian's launcher script, whose checks of /dev/shm fail where it
        # is mounted twice; the flags below are all the launcher would add that matters here.
        binary = "/usr/lib/chromium/chromium"
        options.binary_location = binary if os.path.exists(binary) else shutil.which("chromium")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1200,1600",
                     f"--user-data-dir={os.path.join(scratch, 'profile')}"):
            options.add_argument(flag)
        # Its temporary files in the scratch folder, named from there: the socket Chromium makes
        # there must have a path of under 108 bytes.
        service = Service(executable_path=shutil.which("chromedriver"),
                          log_path=os.path.join(scratch, "chromedriver.log"),
                          env=dict(os.environ, TMPDIR="tmp"), popen_kw={"start_new_session": True, "cwd": scratch})
        self.driver = None
        try:
            self.driver = webdriver.Chrome(service=service, options=options)
        finally:
            case.addCleanup(self.close, service)
        self.driver.set_page_load_timeout(60)

    def close(self, service):
        try:
            if self.driver is not None:
                self.driver.quit()
        finally:
            if service.process is not None:
                try:
                    os.killpg(service.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def open(self, address):
        self.driver.get(address)

    def text(self, selector):
        return self.driver.find_element(By.CSS_SELECTOR, selector).text

    def rows(self, table):
        return [[cell.text for cell in row.find_elements(By.CSS_SELECTOR, "th, td")]
                for row in self.driver.find_elements(By.CSS_SELECTOR, f"#{table} tbody tr")]

    def fill(self, field, text):
        element = self.driver.find_element(By.ID, field)
        element.clear()
        if text:
            element.send_keys(text)

    def follow(self, element, *keys):
        """Clicks the element (or types the keys into it) and waits for the next page."""
        page = self.driver.find_element(By.TAG_NAME, "html")
        if keys:
            element.send_keys(*keys)
        else:
            element.click()
        def gone(driver):
            try:
                _ = page.tag_name
                return False
            except WebDriverException:  # stale, or (as chromedriver may say it) no longer in the page
                return True
        WebDriverWait(self.driver, 30).until(gone)
        WebDriverWait(self.driver, 30).until(lambda d: d.execute_script("return document.readyState") == "complete")

    def press(self, label):
        self.follow(self.driver.find_element(By.XPATH, f"//button[normalize-space()='{label}']"))

    def link(self, text):
        self.follow(self.driver.find_element(By.LINK_TEXT, text))

    def search(self, text, everything=False):
        self.link("Search")
        self.fill("q", text)
        if everything:
            self.driver.find_element(By.ID, "everything").click()
        self.press("Search")

    def open_found(self, text):
        self.search(text)
        self.follow(self.driver.find_element(By.CSS_SELECTOR, "#found tbody a"))

    def unlabelled(self):
        """The form fields of the page that no label names."""
        return self.driver.execute_script(
            "return [...document.querySelectorAll('input:not([type=hidden]), select, textarea')]"
            ".filter(e => e.labels.length === 0).map(e => e.id || e.name);")

    def inert(self, case, *texts):
        """The page holds the texts as text, and nothing they could have made."""
        case.assertEqual(self.driver.find_elements(By.CSS_SELECTOR, "img, script, iframe, object, embed, b"), [])
        with case.assertRaises(NoAlertPresentException):
            _ = self.driver.switch_to.alert.text
        body = self.driver.find_element(By.TAG_NAME, "body").text
        for text in texts:
            case.assertIn(text, body)


class Office:
    """What each kind of database runs: the database named as serve takes it, and a clerk."""
    db = None
    clerk = None
    reported = None  # the records the report counts at the end of the day

    def serve(self, *args):
        return View(self, self.db, *args, env=self.env())

    def env(self):
        return dict(os.environ)

    def sign_in(self, browser):
        pass

    def test_a_clerks_day(self):
        view = self.serve()
        browser = Browser(self, "day-" + type(self).__name__)
        browser.open(view.address)
        self.sign_in(browser)
        self.assertEqual(browser.driver.title, "Search the records - records office")

        # Found across Unicode case, opened, corrected.
        browser.open_found("müller")
        self.assertEqual(browser.rows("answers")[1], ["surname", "MÜLLER", "MÜLLER"])
        browser.fill("answer-surname", "Müller")
        browser.fill("correct-why", "typed in capitals")
        browser.press("Save the corrections")
        self.assertEqual(browser.text(".notice"), "The corrections were saved.")
        self.assertEqual(browser.rows("answers")[1], ["surname", "MÜLLER", "Müller"])
        self.assertEqual([row[1:] for row in browser.rows("changes")],
                         [[self.clerk, "correct", "surname", "MÜLLER", "Müller", "typed in capitals"]])

        # Approved.
        Select(browser.driver.find_element(By.ID, "review-state")).select_by_value("approved")
        browser.fill("review-why", "checked with the desk")
        browser.press("Set the state")
        self.assertEqual(browser.text("#state"), "approved")
        # Then marked by hand as needing a look, which no rule of the answers would find.
        Select(browser.driver.find_element(By.ID, "review-state")).select_by_value("needs-look")
        browser.fill("review-why", "the desk will call back")
        browser.press("Set the state")
        self.assertEqual(browser.text("#state"), "needs-look")

        # Forgotten on request: the answers go, the record leaves the lists, its fact stays.
        browser.open_found("lovelace")
        browser.fill("forget-why", "asked by the person")
        browser.driver.find_element(By.ID, "forget-sure").click()
        browser.press("Forget")
        self.assertIn("erased", browser.text(".notice"))
        self.assertEqual({row[2] for row in browser.rows("answers")}, {""})
        browser.search("lovelace")
        self.assertEqual(browser.text("#found-heading"), "No record found")
        browser.search("", everything=True)
        self.assertIn("new, forgotten", [row[7] for row in browser.rows("found")])

        # The report, the desks, the records that need a look.
        browser.link("Report")
        browser.press("Show the report")
        self.assertEqual(browser.driver.find_element(By.TAG_NAME, "h1").text, "Records office report")
        self.assertEqual(browser.driver.find_element(By.XPATH, "//th[.='Records']/following-sibling::td").text,
                         self.reported)
        browser.driver.back()
        browser.link("Desks")
        self.assertIn(["north", "4", "UTF-8", "up to record 4 (line 120)"], [row[:4] for row in browser.rows("desks")])
        # Of north's: none rejected, none gone from the file, Lovelace forgotten.
        self.assertEqual([row[6:] for row in browser.rows("desks") if row[0] == "north"], [["0", "0", "1"]])
        browser.link("Records that need a look")
        looked = browser.rows("look")
        self.assertEqual({row[4] for row in looked}, {IMG, "Müller"})
        self.assertEqual([row[8] for row in looked if row[4] == "Müller"], ["marked as needing a look"])
        self.assertTrue(all("age" in row[8] for row in looked if row[4] == IMG), looked)


class OnSqlite(Office, unittest.TestCase):
    clerk = "clerk-on-sqlite"
    reported = "4"  # north's three left, and the hostile desk's one

    def setUp(self):
        self.folder = os.path.join(WORK, "sqlite-" + self._testMethodName)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.db = os.path.join(self.folder, "office.db")
        desk = write_desk(os.path.join(self.folder, "north"))
        hostile = write_desk(os.path.join(self.folder, "hostile"), PEOPLE[2:3], hour=16)
        for name, path in (("north", desk), (HOSTILE_DESK, hostile)):
            subprocess.run([RECORDS, "collate", "--into", self.db, f"{name}={path}"], capture_output=True,
                           timeout=60, check=True)

    def serve(self, *args, **kwargs):
        return View(self, self.db, "--by", self.clerk, *args, **kwargs)

    def key_of(self, view, cookie, text):
        _, _, page = view.request("GET", "/?q=" + urllib.parse.quote(text), {"Cookie": cookie})
        return re.search(r'href="/record/([0-9a-f-]+)"', page)[1]

    def test_a_hostile_answer_stays_text_on_every_page(self):
        view = self.serve()
        browser = Browser(self, "hostile")
        browser.open(view.address)
        browser.search("onerror")
        browser.inert(self, IMG, SCRIPT, HOSTILE_DESK)
        browser.follow(browser.driver.find_element(By.CSS_SELECTOR, "#found tbody a"))
        browser.inert(self, IMG, SCRIPT, "Bell^[[31m")
        for page, shown in (("/desks", HOSTILE_DESK), ("/look", IMG), ("/report/page", SCRIPT)):
            browser.open(view.origin + page)
            browser.inert(self, shown)

    def test_without_the_printed_key_nothing_is_served(self):
        view = self.serve()
        for path, host in (("/", None), ("/record/0000000000000000", None), ("/?key=" + "0" * 64, None),
                           ("/desks?key=", None), (view.address[len(view.origin):], "rebound.example:%d" % view.port)):
            status, headers, page = view.request("GET", path, host=host)
            self.assertEqual(status, 403, path)
            self.assertNotIn("Lovelace", page)
            self.assertNotIn("<nav", page)  # nothing to follow into the view
            self.assertIn("default-src 'none'", headers["content-security-policy"])
        status, headers, _ = view.request("GET", view.address[len(view.origin):])
        self.assertEqual((status, headers["location"]), (303, "/"))
        self.assertRegex(headers["set-cookie"], r"^profiledesk_session=[0-9a-f]{64}; Path=/; HttpOnly; SameSite=Strict$")
        cookie = headers["set-cookie"].split(";")[0]
        status, headers, page = view.request("GET", "/?q=lovelace", {"Cookie": cookie})
        self.assertEqual(status, 200)
        self.assertIn("Lovelace", page)
        for header, value in (("x-content-type-options", "nosniff"), ("x-frame-options", "DENY"),
                              ("referrer-policy", "same-origin"), ("cache-control", "no-store")):
            self.assertEqual(headers[header], value)
        self.assertEqual(view.request("GET", "/", {"Cookie": "profiledesk_session=" + "0" * 64})[0], 403)
        # Kofi is every record's coordinator and one person's first name; a page that is no number is the first.
        for query, count in (("q=kofi", 5), ("q=kofi&field=first_name", 1), ("q=kofi&field=coordinator&page=x", 5)):
            page = view.request("GET", "/?" + query, {"Cookie": cookie})[2]
            self.assertEqual(len(set(re.findall(r'href="/record/([0-9a-f-]+)"', page))), count, query)
            self.assertIn(f"Records 1 to {count}<", page)
        # A view that asks nobody to sign in has no form for it.
        status, headers, _ = view.request("GET", "/signin", {"Cookie": cookie})
        self.assertEqual((status, headers.get("location")), (303, "/"))
        # A day on its own is a span of days; a first day after the last is none.
        for path in ("/report/page", "/"):
            for days, status in (("from=2026-12-06&to=2026-12-06", 200), ("from=2026-12-07&to=2026-12-06", 400)):
                got, _, page = view.request("GET", f"{path}?q=x&{days}", {"Cookie": cookie})
                self.assertEqual(got, status, (path, days))
                self.assertEqual("the first day is later than the last" in page, status == 400, (path, days))

    def test_a_request_from_another_site_changes_nothing(self):
        view = self.serve()
        cookie = view.enter()
        key = self.key_of(view, cookie, "mensah")
        csrf, revision = view.form(cookie, f"/record/{key}")
        change = {"csrf": csrf, "revision": revision, "state": "rejected", "why": ""}
        for headers in ({"Origin": "http://attacker.example"}, {"Origin": "null"},
                        {"Sec-Fetch-Site": "cross-site"}, {"Origin": view.origin.replace(str(view.port), "1")}):
            status, _, _ = view.request("POST", f"/record/{key}/review", {"Cookie": cookie, **headers}, change)
            self.assertEqual(status, 403, headers)
        status, _, _ = view.request("POST", f"/record/{key}/review", {"Cookie": cookie, "Origin": view.origin},
                                    dict(change, csrf="0" * 64))
        self.assertEqual(status, 403)

        # A page of another site whose form the clerk submits: the browser sends no cookie.
        browser = Browser(self, "other-site")
        browser.open(view.address)
        attack = (f'<form method="post" action="{view.origin}/record/{key}/review">'
                  f'<input name="csrf" value="{csrf}"><input name="revision" value="{revision}">'
                  '<input name="state" value="rejected"><button>Win</button></form>')
        browser.open("data:text/html," + urllib.parse.quote(attack))
        browser.press("Win")
        self.assertEqual(browser.driver.find_element(By.TAG_NAME, "h1").text, "Refused")
        self.assertIn(">new<", view.request("GET", f"/record/{key}", {"Cookie": cookie})[2])

        status, headers, _ = view.request("POST", f"/record/{key}/review", {"Cookie": cookie, "Origin": view.origin},
                                          change)
        self.assertEqual((status, headers["location"]), (303, f"/record/{key}?done=reviewed"))
        # A desk's own records, as its line on the desks page links to them: north's four but
        # the one just rejected.
        for desk, count in (("north", 3), (HOSTILE_DESK, 1)):
            page = view.request("GET", "/?desk=" + urllib.parse.quote(desk), {"Cookie": cookie})[2]
            self.assertEqual(len(set(re.findall(r'href="/record/([0-9a-f-]+)"', page))), count, desk)
        # Rejected, the record is found only when rejected records are asked for too.
        for query, found in (("q=mensah", False), ("q=mensah&everything=yes", True)):
            self.assertEqual(f"/record/{key}" in view.request("GET", f"/?{query}", {"Cookie": cookie})[2], found, query)
        # From this site, an erasure whose box was not ticked erases nothing.
        csrf, _ = view.form(cookie, f"/record/{key}")
        status, _, _ = view.request("POST", f"/record/{key}/forget", {"Cookie": cookie, "Origin": view.origin},
                                    {"csrf": csrf, "why": "asked by the person"})
        self.assertEqual(status, 400)
        self.assertIn("Mensah", view.request("GET", f"/record/{key}", {"Cookie": cookie})[2])

    def test_two_clerks_changing_one_record_lose_nothing(self):
        view = self.serve()
        first, second = view.enter(), view.enter()
        key = self.key_of(view, first, "mensah")
        (csrf1, revision), (csrf2, _) = view.form(first, f"/record/{key}"), view.form(second, f"/record/{key}")
        post = {"Origin": view.origin}
        status, _, _ = view.request("POST", f"/record/{key}/correct", {"Cookie": first, **post},
                                    {"csrf": csrf1, "revision": revision, "surname": "Mensa", "why": "one"})
        self.assertEqual(status, 303)
        status, _, page = view.request("POST", f"/record/{key}/correct", {"Cookie": second, **post},
                                       {"csrf": csrf2, "revision": revision, "place_of_birth": "Kumasi", "why": "two"})
        self.assertEqual(status, 409)
        self.assertIn("changed meanwhile by another clerk", page)
        self.assertIn("Mensa", page)
        self.assertEqual(page.count("<td>correct</td>"), 1)

    def test_a_form_short_of_what_it_needs_changes_nothing(self):
        view = self.serve()
        cookie = view.enter()
        key = self.key_of(view, cookie, "mensah")
        csrf, revision = view.form(cookie, f"/record/{key}")
        headers = {"Cookie": cookie, "Origin": view.origin}
        for action, form, status, told in (
                ("correct", {"surname": "Mensa", "why": "one"}, 400, "the form has no revision"),
                ("review", {"state": "approved"}, 400, "the form has no revision"),
                ("review", {"revision": revision, "state": "done"}, 400,
                 "no review state &apos;done&apos; (the states: new"),
                ("correct", {"revision": revision, "surname": "Mensa"}, 400, "say why the answers are corrected"),
                ("forget", {"sure": "yes", "why": ""}, 400, "say why the answers are erased"),
                ("rename", {"revision": revision}, 404, "no such change: rename")):
            got, _, page = view.request("POST", f"/record/{key}/{action}", headers, {"csrf": csrf, **form})
            self.assertEqual(got, status, action)
            self.assertIn(told, page)
        got, found, _ = view.request("POST", f"/record/{key}/correct", headers,
                                     {"csrf": csrf, "revision": revision, "surname": "Mensah", "why": "same"})
        self.assertEqual((got, found["location"]), (303, f"/record/{key}?done=unchanged"))
        page = view.request("GET", found["location"], {"Cookie": cookie})[2]
        self.assertIn("Nothing was changed: every value was as it is.", page)
        self.assertEqual((page.count("<td>correct</td>"), page.count("<td>review</td>")), (0, 0))

    def test_long_lists_come_in_pages_of_fifty(self):
        # Fifty-two records, each with two ages that disagree: each needs a look.
        desk = write_desk(os.path.join(self.folder, "many"), PEOPLE[2:3])
        with open(desk, "rb") as f:
            record = f.read()
        with open(desk, "wb") as f:
            f.write(record * 52)
        db = os.path.join(self.folder, "many.db")
        subprocess.run([RECORDS, "collate", "--into", db, f"many={desk}"], capture_output=True, timeout=60, check=True)
        view = View(self, db, "--by", self.clerk)
        cookie = view.enter()
        seen = set()
        for path, count, summary, previous, following in (
                ("/?q=onerror&everything=yes&page=0", 50, "Records 1 to 50, more on the next page", None,
                 "/?q=onerror&everything=yes&page=2"),
                ("/?q=onerror&everything=yes&page=2", 2, "Records 51 to 52", "/?q=onerror&everything=yes&page=1",
                 None),
                ("/look", 50, None, None, "/look?page=2"),
                ("/look?page=2", 2, None, "/look?page=1", None)):
            page = view.request("GET", path, {"Cookie": cookie})[2]
            keys = set(re.findall(r'href="/record/([0-9a-f-]+)"', page))
            self.assertEqual(len(keys), count, path)
            seen |= {(path.startswith("/look"), key) for key in keys}
            if summary:
                self.assertIn(f">{summary}<", page)
            links = [re.search(rf'<a href="([^"]*)" rel="{rel}">', page) for rel in ("prev", "next")]
            self.assertEqual([link and html.unescape(link[1]) for link in links], [previous, following], path)
        self.assertEqual(len(seen), 104)  # no record on two pages of one list

    def test_a_wrong_form_or_address_is_told_and_changes_nothing(self):
        view = self.serve()
        cookie = view.enter()
        for path, status, told in (
                ("/?q=x&from=2026-12-32", 400, "'2026-12-32' is not a day (YYYY-MM-DD)"),
                ("/report/page?to=06-12-2026", 400, "'06-12-2026' is not a day (YYYY-MM-DD)"),
                ("/?q=%E2%80%8B%C2%AD", 400, "holds only characters that are not seen"),
                ("/?q=%FFx", 400, "the text to find is not UTF-8"),
                ("/record/0123456789abcdef", 404, "No such record")):
            got, _, page = view.request("GET", path, {"Cookie": cookie})
            self.assertEqual(got, status, path)
            self.assertIn(told, html.unescape(page))
            self.assertNotIn("/record/", page.replace('action="/record/', ""))  # no record listed
        # A second view on the same port is refused, and the first one still serves.
        taken = subprocess.run([RECORDS, "serve", "--db", self.db, "--by", "x", "--no-browser", "--listen",
                                f"127.0.0.1:{view.port}"], capture_output=True, timeout=60, check=False)
        self.assertEqual((taken.returncode, taken.stdout, taken.stderr.decode()),
                         (1, b"", f"profiledesk-records: --listen: cannot listen on http://127.0.0.1:{view.port} "
                                  "(in use, or not an address of this computer)\n"))
        self.assertEqual(view.request("GET", "/?q=kofi", {"Cookie": cookie})[0], 200)

    def test_on_every_address_each_clerk_signs_in_by_name_with_the_printed_key(self):
        view = View(self, self.db, "--listen", "0.0.0.0:0", "--no-browser")
        self.assertRegex(view.key, r"^Clerks sign in with their name and the office's key: [0-9a-f]{64}\n$")
        key = view.key.split()[-1]
        self.assertEqual(view.address, view.origin + "/")  # no key in the address
        status, headers, _ = view.request("GET", "/desks")
        self.assertEqual((status, headers["location"]), (303, "/signin"))
        post = {"Origin": view.origin}
        for form, told in (({"user": "ann", "password": ""}, "give your name and the office's key"),
                           ({"user": "ann", "password": "0" * 64}, "that is not the office's key"),
                           ({"user": "ann", "password": key[:-1]}, "that is not the office's key")):
            status, headers, page = view.request("POST", "/signin", post, form)
            self.assertEqual(status, 403, form)
            self.assertIn(told, html.unescape(page))
            self.assertNotIn("set-cookie", headers)
        status, headers, _ = view.request("POST", "/signin", post, {"user": "ann", "password": key})
        self.assertEqual((status, headers["location"]), (303, "/"))
        cookie = headers["set-cookie"].split(";")[0]
        key_of = self.key_of(view, cookie, "mensah")
        csrf, revision = view.form(cookie, f"/record/{key_of}")
        status, _, _ = view.request("POST", f"/record/{key_of}/review", {"Cookie": cookie, **post},
                                    {"csrf": csrf, "revision": revision, "state": "approved", "why": "seen"})
        self.assertEqual(status, 303)
        self.assertIn('<td class="answer">ann</td>', view.request("GET", f"/record/{key_of}", {"Cookie": cookie})[2])
        # Signed out, the cookie opens nothing and the browser is sent to the form.
        status, headers, _ = view.request("POST", "/signout", {"Cookie": cookie, **post}, {"csrf": csrf})
        self.assertEqual((status, headers["location"]), (303, "/signin"))
        self.assertRegex(headers["set-cookie"], r"^profiledesk_session=;")
        status, headers, _ = view.request("GET", "/desks", {"Cookie": cookie})
        self.assertEqual((status, headers["location"]), (303, "/signin"))

    def test_every_action_by_keyboard_and_every_field_labelled(self):
        view = self.serve()
        browser = Browser(self, "keyboard")
        driver = browser.driver
        browser.open(view.address)
        self.assertEqual(driver.switch_to.active_element.get_attribute("id"), "q")
        browser.follow(driver.switch_to.active_element, "kofi", Keys.ENTER)
        self.assertEqual(browser.unlabelled(), [])

        def tab_to(predicate, most=80):
            for _ in range(most):
                driver.switch_to.active_element.send_keys(Keys.TAB)
                if predicate(driver.switch_to.active_element):
                    return driver.switch_to.active_element
            self.fail("not reached by the keyboard")

        browser.follow(tab_to(lambda e: (e.get_attribute("href") or "").count("/record/")), Keys.ENTER)
        self.assertEqual(browser.unlabelled(), [])
        # Every control of the record page is reached in turn.
        controls = {e.get_attribute("id") or e.text for e in driver.find_elements(
            By.CSS_SELECTOR, "a[href], button, input:not([type=hidden]), select")}
        reached = set()
        for _ in range(len(controls) + 5):
            driver.switch_to.active_element.send_keys(Keys.TAB)
            element = driver.switch_to.active_element
            reached.add(element.get_attribute("id") or element.text)
        self.assertLessEqual(controls, reached)
        tab_to(lambda e: e.get_attribute("id") == "review-state").send_keys(Keys.DOWN)
        browser.follow(driver.switch_to.active_element, Keys.TAB, "by keyboard", Keys.ENTER)
        self.assertEqual(browser.text("#state"), "approved")
        browser.follow(tab_to(lambda e: e.text == "Records that need a look", 10), Keys.ENTER)
        self.assertEqual(driver.title, "Records that need a look - records office")
        for page in ("/desks", "/report"):
            browser.open(view.origin + page)
            self.assertEqual(browser.unlabelled(), [])

    def test_slow_and_greedy_clients_cannot_hold_it(self):
        view = self.serve()
        cookie = view.enter()
        status, _, _ = view.request("GET", "/", {f"X-Many-{n}": "x" for n in range(120)})
        self.assertEqual(status, 400)
        # A form's body is taken up to 64 KiB, and then weighed (its token is wrong); a byte more is refused unread.
        for size, refused in ((65536, 403), (65537, 413)):
            status, _, _ = view.request("POST", "/signout", {"Cookie": cookie, "Origin": view.origin},
                                        {"csrf": "0", "filler": "x" * (size - len("csrf=0&filler="))})
            self.assertEqual(status, refused, size)
        # More clients trickling a header a second than there are workers: each is cut off after
        # its time, and a clerk's page is served meanwhile.
        trickling = []
        for _ in range(9):
            client = socket.create_connection(("127.0.0.1", view.port), timeout=60)
            client.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
            trickling.append(client)
        start = time.monotonic()
        done = threading.Event()

        def trickle():
            while not done.wait(1):
                for client in trickling:
                    try:
                        client.sendall(b"X-Slow: 1\r\n")
                    except OSError:
                        pass
        thread = threading.Thread(target=trickle)
        thread.start()
        try:
            time.sleep(2)
            status, _, _ = view.request("GET", "/?q=kofi", {"Cookie": cookie})
            self.assertEqual(status, 200)
            self.assertLess(time.monotonic() - start, 30)
            # Those that had a worker at once are cut off by now, or soon; the one that waited
            # for a worker has its time from then.
            closed = 0
            for client in trickling:
                client.settimeout(max(0.1, 30 - (time.monotonic() - start)))
                try:
                    closed += client.recv(65536) == b""
                except ConnectionResetError:
                    closed += 1
                except socket.timeout:
                    pass
            self.assertGreaterEqual(closed, 8)
        finally:
            done.set()
            thread.join()
            for client in trickling:
                client.close()

    def test_a_database_held_by_a_collate_holds_a_page_no_longer_than_the_wait(self):
        view = self.serve("--wait", "1")
        cookie = view.enter()
        self.assertEqual(view.request("GET", "/?q=kofi", {"Cookie": cookie})[0], 200)
        holder = sqlite3.connect(self.db, isolation_level=None)
        try:
            holder.execute("BEGIN EXCLUSIVE")  # as a collate holds it while it commits
            started = time.monotonic()
            status, _, page = view.request("GET", "/?q=kofi", {"Cookie": cookie})
            self.assertLess(time.monotonic() - started, 3)
            self.assertEqual(status, 500)
            self.assertIn("locked", page)
        finally:
            holder.close()
        self.assertEqual(view.request("GET", "/?q=kofi", {"Cookie": cookie})[0], 200)

    def test_signals_stop_it_cleanly_and_an_ignored_hangup_stays_ignored(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            view = self.serve()
            self.assertEqual(view.stop(number), (-number, "Ctrl+C stops it.\nStopped.\n", ""))
        view = self.serve(ignore_hangup=True)
        os.kill(view.process.pid, signal.SIGHUP)
        time.sleep(0.5)
        self.assertEqual(view.request("GET", "/")[0], 403)
        self.assertEqual(view.stop(signal.SIGTERM)[0], -signal.SIGTERM)


class OnPostgres(Office, unittest.TestCase):
    clerk = "serve_clerk"
    reported = "3"
    server = None

    @classmethod
    def setUpClass(cls):
        if STATE_FILE is None:
            raise unittest.SkipTest("no PostgreSQL server given")
        import postgres_server  # noqa: E402
        cls.server = postgres_server.attach(STATE_FILE)
        server = cls.server
        server.sql("DROP DATABASE IF EXISTS serve_office")
        for role, password in (("serve_clerk", CLERK_PASSWORD), ("serve_viewer", VIEWER_PASSWORD)):
            server.sql(f"DROP ROLE IF EXISTS {role}")
            server.sql(f"CREATE ROLE {role} LOGIN PASSWORD '{password}'")
        server.sql("CREATE DATABASE serve_office ENCODING 'UTF8' TEMPLATE template0")
        folder = os.path.join(WORK, "postgres")
        shutil.rmtree(folder, ignore_errors=True)
        desk = write_desk(os.path.join(folder, "north"))
        subprocess.run([RECORDS, "collate", "--into", server.uri("admin", "serve_office"), f"north={desk}"],
                       env=server.env("admin-pass"), capture_output=True, timeout=120, check=True)
        server.sql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO serve_clerk, serve_viewer; "
                   "GRANT UPDATE ON records, record_changes TO serve_clerk; "
                   "GRANT INSERT ON record_changes, records_as_written TO serve_clerk; "
                   "GRANT DELETE ON records_as_written TO serve_clerk; "
                   "GRANT INSERT, UPDATE, DELETE ON answer_values, answer_postings TO serve_clerk", "serve_office")

    def setUp(self):
        self.db = self.server.uri("", "serve_office").replace("postgresql://@", "postgresql://")

    def env(self):
        # Nobody's password: each clerk signs in with their own.
        env = self.server.env("")
        del env["PGPASSWORD"]
        return env

    def sign_in(self, browser, role="serve_clerk", password=CLERK_PASSWORD):
        self.assertEqual(browser.driver.title, "Sign in - records office")
        browser.fill("user", role)
        browser.fill("password", password)
        browser.press("Sign in")

    def test_each_clerk_signs_in_and_the_database_decides(self):
        refused = subprocess.run([RECORDS, "serve", "--db", self.db, "--by", "serve_clerk", "--no-browser"],
                                 env=self.env(), capture_output=True, timeout=60, check=False)
        self.assertEqual((refused.returncode, refused.stdout, refused.stderr),
                         (2, b"", b"profiledesk-records: --by: on PostgreSQL each clerk signs in, and changes are "
                                  b"kept under the role they sign in as\n"))
        view = self.serve()
        browser = Browser(self, "postgres-rights")
        browser.open(view.address)
        self.sign_in(browser, password="wrong")
        self.assertIn("password authentication failed", browser.text(".error"))
        self.sign_in(browser, "serve_viewer", VIEWER_PASSWORD)
        browser.open(view.origin + "/signin")  # signed in already: no form again
        self.assertEqual(browser.driver.title, "Search the records - records office")
        browser.open_found("mensah")
        browser.fill("answer-surname", "Mensa")
        browser.fill("correct-why", "a viewer tries")
        browser.press("Save the corrections")
        self.assertIn("permission denied", browser.text(".error"))
        self.assertEqual(browser.rows("answers")[1], ["surname", "Mensah", "Mensah"])
        kept = browser.driver.get_cookie("profiledesk_session")["value"]
        # The database's refusal is the page's status too.
        path = "/record/" + re.search(r"/record/([0-9a-f-]+)", browser.driver.current_url)[1]
        csrf, revision = view.form(f"profiledesk_session={kept}", path)
        status, _, _ = view.request("POST", path + "/correct", {"Cookie": f"profiledesk_session={kept}",
                                    "Origin": view.origin}, {"csrf": csrf, "revision": revision,
                                                             "surname": "Mensa", "why": "again"})
        self.assertEqual(status, 403)
        browser.press("Sign out")
        self.assertEqual(browser.driver.title, "Sign in - records office")
        # Without signing in again, nothing but the form; the cookie signed out with, kept by
        # whoever copied it, opens nothing either.
        browser.open(view.origin + "/desks")
        self.assertEqual(browser.driver.title, "Sign in - records office")
        status, _, _ = view.request("GET", "/desks", {"Cookie": f"profiledesk_session={kept}"})
        self.assertEqual(status, 403)


if __name__ == "__main__":
    unittest.main()
