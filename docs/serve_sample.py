"""Makes the pictures of the office's view in the README: the sample desks of report_sample.py
collated into a database, one record corrected and reviewed as a clerk would, the view started
on it, and its search and that record's page taken with headless Chromium.

Usage: serve_sample.py DESK_PROGRAM RECORDS_PROGRAM WORK_FOLDER SEARCH_PNG RECORD_PNG
"""

import os
import random
import re
import select
import shutil
import subprocess
import sys

DESK, RECORDS, WORK, SEARCH_PNG, RECORD_PNG = (os.path.abspath(arg) for arg in sys.argv[1:6])
sys.argv[4:6] = [SEARCH_PNG]  # report_sample reads its own arguments as it loads
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_sample  # noqa: E402


def screenshot(address, png, height):
    report_sample.screenshot(address, png, 1100, height)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    chance = random.Random(2026)
    files = []
    for name in ("north-desk", "south-desk"):
        folder = os.path.join(WORK, name)
        os.makedirs(folder)
        for day in range(1, 8):
            for _ in range(chance.choice([2, 4, 5])):
                hour = min(19, max(8, int(chance.gauss(12.5, 2.5))))
                report_sample.desk(folder, chance, f"2026-12-{day:02} {hour:02}:{chance.randrange(60):02}:00",
                                   str(int(chance.triangular(17, 70, 24))))
        files.append(f"{name.split('-')[0]}={os.path.join(name, 'datas.dat')}")
    db = os.path.join(WORK, "office.db")
    subprocess.run([RECORDS, "collate", "--into", db, *files], cwd=WORK, capture_output=True, timeout=60,
                   check=True)
    found = subprocess.run([RECORDS, "find", "--from-db", db, "--field", "first_name", "Abena"],
                           capture_output=True, timeout=60, check=True).stdout.decode()
    key = re.search(r"record_key\s+(\S+)", found)[1]
    for change in (["correct", key, "place_of_birth=Cape-Coast", "--why", "the desk typed the town of work"],
                   ["review", key, "approved", "--why", "checked with the candidate"]):
        env = dict(os.environ, TZ="UTC", FAKETIME="2026-12-08 09:30:00", LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
        subprocess.run([RECORDS, change[0], "--db", db, "--by", "clerk-ama", *change[1:]], capture_output=True,
                       env=env, timeout=60, check=True)
    view = subprocess.Popen([RECORDS, "serve", "--db", db, "--no-browser"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, bufsize=0, start_new_session=True)
    try:
        ready, _, _ = select.select([view.stdout], [], [], 30)
        address = re.search(rb"at (\S+)", view.stdout.readline() if ready else b"")[1].decode()
        origin, key_query = address.split("/?")
        screenshot(f"{origin}/?{key_query}&q=abena", SEARCH_PNG, 760)
        screenshot(f"{origin}/record/{key}?{key_query}", RECORD_PNG, 1500)
    finally:
        view.kill()
        view.wait()
        view.stdout.close()


if __name__ == "__main__":
    main()
