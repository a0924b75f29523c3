"""Makes the sample report shown in the README: two desks' record files written by the desk
program over two weeks of made-up (but repeatable) answers, the report page of both, and a
screenshot of it in headless Chromium.

Usage: report_sample.py DESK_PROGRAM RECORDS_PROGRAM WORK_FOLDER PNG
"""

import os
import random
import shutil
import signal
import subprocess
import sys

DESK, RECORDS, WORK, PNG = (os.path.abspath(arg) for arg in sys.argv[1:5])
PLACES = ["Accra"] * 9 + ["Kumasi"] * 6 + ["Tamale"] * 4 + ["Lagos"] * 3 + ["Cape-Coast", "Ho", "Takoradi",
                                                                            "Sunyani", "Koforidua", "Wa", "Bolga"]
CENTRES = ["Tech-Institute"] * 5 + ["City-College"] * 3 + ["Harbour-Academy", "Ridge-School", "Evening-Classes"]
STREETS = ["Ring-Road", "Harbour-Street", "Oxford-Street", "Liberation-Road", "Castle-Road", "High-Street",
           "Market-Lane", "Station-Road", "Mill-Street", "Church-Road", "Lake-View", "Palm-Avenue"]
SCHOOLS = ["Park-School"] * 4 + ["Hill-School"] * 3 + ["St-Mary's", "Riverside-Primary", "Unity-School"]
SHOPS = ["Accra-Mall"] * 5 + ["Grand-Plaza"] * 3 + ["Junction-Mall", "Market-Circle", "West-Hills"]


def desk(folder, chance, when, age):
    typed = " ".join(["1", chance.choice(["Ama", "Kofi", "Esi", "Yaw", "Abena", "Kwame"]), "Mensah",
                      chance.choice(PLACES), "01-01-1990", age, "30", "5", chance.choice(CENTRES),
                      chance.choice(STREETS), "Coordinator", "Bakery", "Works", "Repairs", "Library", "150",
                      chance.choice(SHOPS), chance.choice(SCHOOLS)]) + "\n"
    env = dict(os.environ, TZ="UTC", FAKETIME=when, LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
    subprocess.run([DESK], cwd=folder, input=typed.encode(), env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, start_new_session=True, timeout=30, check=True)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    chance = random.Random(2026)
    files = []
    for name in ("north-desk", "south-desk"):
        folder = os.path.join(WORK, name)
        os.makedirs(folder)
        for day in range(1, 15):
            for _ in range(chance.choice([0, 2, 4, 5, 7, 9]) if day % 7 else 0):
                hour = min(19, max(8, int(chance.gauss(12.5, 2.5))))
                age = str(int(chance.triangular(17, 70, 24))) if chance.random() > 0.06 else "unknown"
                desk(folder, chance, f"2026-12-{day:02} {hour:02}:{chance.randrange(60):02}:00", age)
        files.append(os.path.join(name, "datas.dat"))
    page = os.path.join(WORK, "report.html")
    subprocess.run([RECORDS, "report", "--title", "Harbour district desks, December 2026", "-o", page, *files],
                   cwd=WORK, timeout=60, check=True)
    screenshot("file://" + page, PNG, 1000, 2400)


def screenshot(address, png, width, height):
    """A picture of the page at `address` by headless Chromium, which is killed with all it started."""
    shot = subprocess.Popen(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         f"--user-data-dir={os.path.join(WORK, 'chromium-profile')}", "--hide-scrollbars",
         f"--window-size={width},{height}", f"--screenshot={png}", address],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        shot.wait(timeout=120)
    finally:
        try:
            os.killpg(shot.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        shot.wait()


if __name__ == "__main__":
    main()
