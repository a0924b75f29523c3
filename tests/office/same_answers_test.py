"""The same answers from the Linux build and from the Windows build under wine: one table of
code page bytes, one table of case folding, and every command on a database and desk files in
folders named outside the ANSI code page. Both presets run this file.

Usage: same_answers_test.py RECORDS_PROGRAM FRAGMENTS_FOLDER WORK_FOLDER
With PROFILEDESK_WRAPPER=wine in the environment, the program runs through wine.
"""

import csv
import io
import os
import resource
import sqlite3
import subprocess
import sys
import tempfile
import unittest

RECORDS, FRAGMENTS, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
WRAPPER = os.environ.get("PROFILEDESK_WRAPPER", "").split()

with open(os.path.join(FRAGMENTS, "record-jane.txt"), "rb") as f:
    JANE = f.read()
with open(os.path.join(FRAGMENTS, "record-john.txt"), "rb") as f:
    JOHN = f.read()

# Bytes of each code page offered and the character each stands for, from the code page's
# published chart; None where the page has no character.
CODE_PAGES = {
    "CP437": {0x80: 0xC7, 0x81: 0xFC, 0xB0: 0x2591, 0xE1: 0xDF, 0xFF: 0xA0},
    "CP850": {0x80: 0xC7, 0x9E: 0xD7, 0xD5: 0x131, 0xFF: 0xA0},
    "CP852": {0x86: 0x107, 0x9D: 0x141, 0xA5: 0x105, 0xFF: 0xA0},
    "CP866": {0x80: 0x410, 0xAF: 0x43F, 0xE0: 0x440, 0xF0: 0x401, 0xFF: 0xA0},
    "CP1250": {0x80: 0x20AC, 0x81: None, 0x8A: 0x160, 0xA3: 0x141, 0xB9: 0x105, 0xFF: 0x2D9},
    "CP1251": {0x80: 0x402, 0x88: 0x20AC, 0x98: None, 0xC0: 0x410, 0xFF: 0x44F},
    "CP1252": {0x80: 0x20AC, 0x81: None, 0x8A: 0x160, 0x8D: None, 0x9F: 0x178, 0xE9: 0xE9, 0xFF: 0xFF},
    "CP1253": {0x80: 0x20AC, 0x81: None, 0xAA: None, 0xC1: 0x391, 0xF2: 0x3C2, 0xFF: None},
    "CP1254": {0x80: 0x20AC, 0x81: None, 0xD0: 0x11E, 0xDD: 0x130, 0xFD: 0x131, 0xFE: 0x15F},
    "CP1255": {0x80: 0x20AC, 0x81: None, 0xC0: 0x5B0, 0xCA: None, 0xE0: 0x5D0, 0xFA: 0x5EA, 0xFF: None},
    "CP1256": {0x80: 0x20AC, 0x81: 0x67E, 0xC1: 0x621, 0xFF: 0x6D2},
    "CP1257": {0x80: 0x20AC, 0x81: None, 0xA1: None, 0xC0: 0x104, 0xE0: 0x105, 0xFF: 0x2D9},
    "CP1258": {0x80: 0x20AC, 0x81: None, 0xC3: 0x102, 0xCC: 0x300, 0xDD: 0x1AF, 0xFF: 0xFF},
    "ISO-8859-1": {0x80: 0x80, 0x81: 0x81, 0xE9: 0xE9, 0xFF: 0xFF},
    "ISO-8859-2": {0xA1: 0x104, 0xA3: 0x141, 0xB1: 0x105, 0xFF: 0x2D9},
    "ISO-8859-3": {0xA1: 0x126, 0xA5: None, 0xAE: None, 0xFF: 0x2D9},
    "ISO-8859-4": {0xA1: 0x104, 0xA2: 0x138, 0xFF: 0x2D9},
    "ISO-8859-5": {0xA1: 0x401, 0xB0: 0x410, 0xF0: 0x2116, 0xFF: 0x45F},
    "ISO-8859-7": {0xAE: None, 0xC1: 0x391, 0xF2: 0x3C2, 0xFF: None},
    "ISO-8859-9": {0xD0: 0x11E, 0xDD: 0x130, 0xFD: 0x131},
    "ISO-8859-13": {0xA1: 0x201D, 0xC0: 0x104, 0xFF: 0x2019},
    "ISO-8859-15": {0xA4: 0x20AC, 0xA6: 0x160, 0xBC: 0x152, 0xBE: 0x178},
    "KOI8-R": {0x80: 0x2500, 0xA3: 0x451, 0xB3: 0x401, 0xC1: 0x430, 0xE1: 0x410, 0xFF: 0x42A},
}

# find TEXT in a surname: whether it is found, as NFKC case folding (İ a plain i) has it.
FOLDING = [
    ("GROSS", "Groß", True),
    ("straße", "STRASSE", True),
    ("strasse", "\u1e9eTRASSE", True),  # the capital sharp s
    ("istanbul", "İstanbul", True),
    ("İSTANBUL", "istanbul", True),
    ("yilmaz", "Yılmaz", False),  # the dotless ı is a letter of its own
    ("YILMAZ", "yılmaz", False),
    ("οδος", "ΟΔΟΣ", True),
    ("ΟΔΟΣ", "οδος", True),  # the final sigma
    ("fish", "\ufb01sh", True),  # the fi ligature
    ("\ufb01", "FI", True),
    ("kelvin", "\u212aelvin", True),  # the Kelvin sign
    ("abc", "\uff21\uff22\uff23", True),  # fullwidth letters
    ("müller", "Mu\u0308ller", True),  # a combining diaeresis
    ("mu\u0308ller", "MÜLLER", True),
    ("muller", "Müller", False),  # accents are kept
    ("muller", "Mul\u00adler", True),  # the soft hyphen is passed over
    ("anna", "An\u200bna", True),  # and the zero-width space
]


def bounded():
    """No run may write more than 16 MiB."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 20, 16 << 20))


def with_place(record, place):
    return record.replace(b"Birth Is :: Accra", b"Birth Is :: " + place)


class SameAnswers(unittest.TestCase):
    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        self.scratch = tempfile.TemporaryDirectory(dir=WORK)
        self.folder = self.scratch.name

    def tearDown(self):
        self.scratch.cleanup()

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def run_tool(self, *args):
        return subprocess.run([*WRAPPER, RECORDS, *args], cwd=self.folder, capture_output=True, timeout=120,
                              start_new_session=True, preexec_fn=bounded, check=False)

    def test_every_code_page_decodes_by_one_table(self):
        desks = []
        for name, characters in CODE_PAGES.items():
            self.write(name + ".dat", with_place(JANE, b"-".join(bytes([b]) for b in characters)))
            desks.append(f'[[desk]]\nname = "{name}"\npath = "{name}.dat"\nencoding = "{name}"\n')
        self.write("desks.toml", "".join(desks).encode())
        done = self.run_tool("export", "--desks", "desks.toml")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout.decode(), newline="")))
        self.assertEqual({row["source"]: row["place_of_birth"] for row in rows},
                         {name: "-".join("\ufffd" if c is None else chr(c) for c in characters.values())
                          for name, characters in CODE_PAGES.items()})
        # Line 8 holds the place of birth.
        self.assertEqual(done.stderr.decode().splitlines(),
                         [f"{name}.dat:8: not {name}" for name, characters in CODE_PAGES.items()
                          if None in characters.values()])

    def test_case_is_folded_alike(self):
        for text, surname, found in FOLDING:
            with self.subTest(text=text, surname=surname):
                self.write("one.dat", JANE.replace(b"Name :: Jane Roe", b"Name :: Jane " + surname.encode()))
                done = self.run_tool("find", "--field", "surname", text, "one.dat")
                self.assertEqual(done.returncode, 0 if found else 1, done.stderr)
        invisible = self.run_tool("find", "\u200b\u00ad", "one.dat")
        self.assertEqual(invisible.returncode, 2, "a text of nothing but what folding drops")

    def test_every_command_in_folders_named_outside_the_ansi_code_page(self):
        for folder in ("Łódź", "Αθήνα 東京"):
            with self.subTest(folder=folder):
                self.every_command_in(folder)

    def every_command_in(self, folder):
        def at(name):
            return os.path.join(folder, name)

        def succeeds(*args):
            done = self.run_tool(*args)
            self.assertEqual(done.returncode, 0, f"{args}: {done.stdout.decode(errors='replace')}"
                                                 f"{done.stderr.decode(errors='replace')}")
            return done.stdout.decode()

        self.write(at("datas.dat"), JANE + JOHN)
        self.write(at("desks.toml"), b'[[desk]]\nname = "north"\npath = "datas.dat"\n')
        self.assertIn("2 whole records", succeeds("check", at("datas.dat")))
        self.assertIn("(desk north)", succeeds("check", "--desks", at("desks.toml")))
        succeeds("export", "-o", at("rows.csv"), at("datas.dat"))
        succeeds("export", "--for-spreadsheet", "-o", at("sheet.csv"), at("datas.dat"))
        succeeds("report", "-o", at("page.html"), at("datas.dat"))
        self.assertIn("Jane", succeeds("find", "jane", at("datas.dat")))
        succeeds("collate", "--into", at("office.db"), "--desks", at("desks.toml"))
        succeeds("report", "--from-db", at("office.db"), "-o", at("db.html"))
        self.assertIn("John", succeeds("find", "--from-db", at("office.db"), "john"))
        with sqlite3.connect(os.path.join(self.folder, at("office.db"))) as db:
            jane, john = (key for (key,) in db.execute("SELECT record_key FROM records ORDER BY line"))
        self.assertIn("Jane", succeeds("show", "--db", at("office.db"), jane))
        succeeds("correct", "--db", at("office.db"), jane, "place_of_birth=Kumasi", "--why", "misspelt")
        succeeds("review", "--db", at("office.db"), jane, "approved")
        succeeds("forget", "--db", at("office.db"), john, "--why", "asked to")
        for name in ("rows.csv", "sheet.csv", "page.html", "db.html"):
            self.assertGreater(os.path.getsize(os.path.join(self.folder, at(name))), 0, name)
        self.assertIn("Kumasi", succeeds("find", "--from-db", at("office.db"), "kumasi"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
