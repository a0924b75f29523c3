"""The Windows build's view, served under wine and checked by a client on Linux: the printed
key, a search, a hostile answer as text, a correction through the form, the policy sent.

Usage: serve_windows_test.py PROFILEDESK_RECORDS_EXE FRAGMENTS_DIR   (WINEPREFIX and TMPDIR set)
"""

import http.client
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

PROGRAM, FRAGMENTS = (os.path.abspath(arg) for arg in sys.argv[1:3])
del sys.argv[1:3]
IMG = "<img/src=x/onerror=alert(1)>"


class ServedUnderWine(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=os.path.dirname(PROGRAM))
        self.addCleanup(shutil.rmtree, self.work, True)
        with open(os.path.join(FRAGMENTS, "record-jane.txt"), encoding="utf-8") as f:
            jane = f.read()
        with open(os.path.join(self.work, "north.dat"), "w", encoding="utf-8") as f:
            f.write(jane + jane.replace("Jane Roe", "Jane " + IMG))
        subprocess.run(["wine", PROGRAM, "collate", "--into", "office.db", "north.dat"], cwd=self.work,
                       capture_output=True, timeout=120, check=True)
        self.view = subprocess.Popen(["wine", PROGRAM, "serve", "--db", "office.db", "--no-browser"],
                                     cwd=self.work, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        self.addCleanup(self.stop)
        ready, _, _ = select.select([self.view.stdout], [], [], 120)
        line = self.view.stdout.readline().decode() if ready else ""
        found = re.match(r"Serving office\.db at http://127\.0\.0\.1:(\d+)(/\?key=[0-9a-f]{64})\r?\n$", line)
        self.assertTrue(found, line)
        self.port, self.entrance = int(found[1]), found[2]

    def stop(self):
        if self.view.poll() is None:
            self.view.kill()
        self.view.wait(timeout=60)
        self.view.stdout.close()

    def request(self, method, path, cookie="", form=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            headers = {"Cookie": cookie, "Origin": f"http://127.0.0.1:{self.port}"}
            body = None
            if form is not None:
                body = urllib.parse.urlencode(form)
                headers["Content-Type"] = "application/x-www-form-urlencoded"
            connection.request(method, path, body=body, headers=headers)
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read().decode()
        finally:
            connection.close()

    def test_it_serves_the_office_to_whoever_has_the_key(self):
        status, headers, page = self.request("GET", "/?q=jane")
        self.assertEqual(status, 403)
        self.assertNotIn("Roe", page)
        self.assertIn("default-src 'none'", headers["content-security-policy"])
        status, headers, _ = self.request("GET", self.entrance)
        self.assertEqual(status, 303)
        cookie = headers["set-cookie"].split(";")[0]

        status, _, page = self.request("GET", "/?q=JANE", cookie)
        self.assertEqual(status, 200)
        self.assertIn(">Roe<", page)
        self.assertIn("&lt;img/src=x/onerror=alert(1)&gt;", page)
        self.assertNotIn(IMG, page)

        key = re.search(r'href="/record/([0-9a-f-]+)"', page)[1]
        status, _, page = self.request("GET", f"/record/{key}", cookie)
        csrf = re.search(r'name="csrf" value="([0-9a-f]+)"', page)[1]
        status, headers, _ = self.request("POST", f"/record/{key}/correct", cookie,
                                          {"csrf": csrf, "revision": "0", "place_of_birth": "Kumasi", "why": "moved"})
        self.assertEqual((status, headers.get("location")), (303, f"/record/{key}?done=corrected"))
        status, _, page = self.request("GET", f"/record/{key}", cookie)
        self.assertRegex(page, r"<td>correct</td><td>place_of_birth</td><td class=\"answer\">Accra</td>"
                               r"<td class=\"answer\">Kumasi</td>")


if __name__ == "__main__":
    unittest.main()
