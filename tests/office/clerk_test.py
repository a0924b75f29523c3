"""The office puts its records right, on SQLite and PostgreSQL alike: corrections, reviews and
erasures kept with their history, a desk mended by hand or emptied by hand, a desk read again
in its right encoding, records that need a look, clerks at work at the same time, and outputs
that never take the place of the office's data.

Usage: clerk_test.py RECORDS_PROGRAM FRAGMENTS_FOLDER WORK_FOLDER [SERVER_STATE_FILE]
  With SERVER_STATE_FILE, the PostgreSQL cases use the server `postgres_server.py start` left
  running; without it they are skipped.
"""

import csv
import io
import json
import os
import re
import sys
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import database_test as base  # noqa: E402  (its office, records and arguments)
from database_test import JANE, JOHN, ADA, JOAN  # noqa: E402


def person(surname):
    """John's record under another surname: a person of their own."""
    return JOHN.replace(b"Name :: John Doe", b"Name :: John " + surname)


class Clerk:
    KIND = None

    def office(self):
        return base.Office(self, self.KIND)

    def rows(self, office, *args):
        done = office.run("export", "--from-db", office.name, "--format", "jsonl", "--with-keys", *args)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        return [json.loads(line) for line in done.stdout.splitlines()]

    def by(self):
        """The clerk a change is kept under: on PostgreSQL, the role connected as."""
        return [] if self.KIND == "postgres" else ["--by", "ann"]

    def key_of(self, office, surname):
        [key] = [row["record_key"] for row in self.rows(office, "--all-records") if row["surname"] == surname]
        return key

    def test_a_clerks_day_correct_review_forget_each_kept_and_the_answers_erased_for_good(self):
        office = self.office()
        office.write(b"north.dat", JANE, JOHN)
        self.assertEqual(office.collate(b"north=north.dat").returncode, 0)
        john = self.key_of(office, "Doe")
        by = self.by()

        corrected = office.run("correct", "--db", office.name, john[:10], "surname=Dough", "--why", "typo", *by)
        self.assertEqual((corrected.returncode, corrected.stdout), (0, b"corrected 1 record\n"))
        reviewed = office.run("review", "--db", office.name, john[:10], "rejected", *by)
        self.assertEqual((reviewed.returncode, reviewed.stdout), (0, b"1 record now rejected\n"))
        # What a record already holds changes nothing and is kept nowhere.
        same = office.run("correct", "--db", office.name, john[:10], "surname=Dough", "--why", "again", *by)
        self.assertEqual((same.returncode, same.stdout), (0, b"corrected 0 records\n"))
        same = office.run("review", "--db", office.name, john[:10], "rejected", *by)
        self.assertEqual((same.returncode, same.stdout), (0, b"0 records now rejected\n"))
        shown = office.run("show", "--db", office.name, john[:12]).stdout.decode()
        self.assertIn(f"record {john}\n  desk north, record 2 at line 31, entered 2026-12-06 15:53\n", shown)
        self.assertIn("  state rejected, revision 2\n", shown)  # a correction and a review
        self.assertRegex(shown, r"\n  surname {15}Doe {21}Dough\n")
        self.assertRegex(shown, r"correct surname: Doe -> Dough  \(typo\)\n.*review state: new -> rejected\n")
        # A rejected record is left out of what the office reads, unless asked for.
        self.assertEqual([row["surname"] for row in self.rows(office)], ["Roe"])
        self.assertEqual([(row["surname"], row["state"]) for row in self.rows(office, "--all-records")],
                         [("Roe", "new"), ("Dough", "rejected")])
        self.assertEqual(office.run("find", "--from-db", office.name, "dough").returncode, 1)
        self.assertEqual(office.run("find", "--from-db", office.name, "dough", "--all-records").returncode, 0)

        # A long value goes to pages of its own, which an erasure frees: they must not keep it.
        long_name = "coordinator=Mary-Okafor-" + "and-Sons-" * 400
        # Lagos corrected to Jane's Accra: an answer the two then share.
        self.assertEqual(office.run("correct", "--db", office.name, john, long_name, "place_of_birth=Accra",
                                    "--why", "w", *by).returncode, 0)
        forgot = office.run("forget", "--db", office.name, john, "--why", "asked on 8 December", *by)
        self.assertEqual((forgot.returncode, forgot.stdout),
                         (0, b"erased the answers of 1 record in the database; the desk's own file still holds "
                             b"them (north)\n"))
        shown = office.run("show", "--db", office.name, john).stdout.decode()
        self.assertNotIn("Dough", shown)
        self.assertNotIn("Doe", shown)
        self.assertIn("forget  (asked on 8 December)", shown)
        self.assertIn("review state: new -> rejected", shown)  # a state is no answer: it stays
        # No later collate brings the answers back: the key and the erasure stay.
        self.assertEqual(office.collate("--full", b"north=north.dat").stdout,
                         b"0 added, 2 already present, 0 problems\n")
        self.assertEqual([row["surname"] for row in self.rows(office, "--all-records")], ["Roe", ""])
        refused = office.run("correct", "--db", office.name, john, "surname=Doe", "--why", "undo", *by)
        self.assertEqual(refused.returncode, 2)
        if self.KIND == "sqlite":
            with open(office.name, "rb") as f:
                stored = f.read()
            # Nor as the index of answers held them, folded, nor as the pieces its search keeps (trigrams).
            for gone in (b"Dough", b"Doe", b"Mary-Okafor", b"and-Sons-", b"12-03-1990", b"dough", b"mary-okafor",
                         b"and-sons-", b"kaf", b"afo"):
                self.assertNotIn(gone, stored)
        # The answer Jane shared with him lists her alone now.
        self.assertEqual(office.sql("SELECT records FROM answer_postings WHERE value = 'Accra'"), [["1"]])
        # Jane, whose answers stay, is still found by them.
        self.assertEqual(office.run("find", "--from-db", office.name, "roe").returncode, 0)
        self.assertEqual(office.run("find", "--from-db", office.name, "dough").returncode, 1)

    def test_a_key_not_there_or_not_one_changes_nothing_at_all(self):
        office = self.office()
        office.write(b"north.dat", JANE, JOHN, JOHN)
        office.collate(b"north=north.dat")
        jane = self.key_of(office, "Roe")
        twice = self.rows(office)[1]["record_key"][:8]  # John's two keys differ past their hash alone
        for args, status, told in (
                (["0123456789abcdef"], 1, b"0123456789abcdef: no record has this key\n"),
                (["0123"], 2, b"0123: a key is named by at least its first 8 characters\n"),
                ([twice], 2, twice.encode() + b": more than one record's key starts so; give more of it\n"),
                (["years_ahead=soon"], 2, b"years_ahead: a figure is a number (soon is none)\n"),
                *(([value], 2, b"street must be UTF-8 text without control characters\n")
                  for value in ("street=a\x1bb", "street=a\x1fb", "street=a\x7f", b"street=caf\xe9"))):
            done = office.run("correct", "--db", office.name, jane, *args, "first_name=X", "--why", "w")
            self.assertEqual((done.returncode, done.stdout, done.stderr),
                             (status, b"", b"profiledesk-records: " + told))
        refused = [(["correct", jane, "first_name=X", "--why", ""],
                    b"--why: a correction is kept with its reason; give one\n"),
                   (["forget", jane, "--why", ""], b"--why: an erasure is kept with its reason; give one\n"),
                   (["correct", jane, "--why", "w"], b"name what to correct as FIELD=VALUE (surname=Lovelace)\n")]
        if self.KIND == "postgres":  # a change is kept under the role connected as, no other name
            refused.append((["review", jane, "approved", "--by", "someone"],
                            b"--by: on PostgreSQL a change is made by the role it connects as (" +
                            base.postgres_server.ADMIN.encode() + b"); connect as someone instead\n"))
        for args, told in refused:
            done = office.run(args[0], "--db", office.name, *args[1:])
            self.assertEqual((done.returncode, done.stdout, done.stderr), (2, b"", b"profiledesk-records: " + told))
        both = office.run("review", "--db", office.name, jane, "approved", "rejected")
        self.assertEqual((both.returncode, both.stderr), (2, b"profiledesk-records: name one review state (new, "
                                                             b"approved, needs-look or rejected) and the keys\n"))
        self.assertEqual([(row["first_name"], row["state"]) for row in self.rows(office)],
                         [("Jane", "new"), ("John", "new"), ("John", "new")])
        # A whole key names its record, though another's key starts with it (-1 and -10 of one content).
        office.write(b"north.dat", JANE, *[JOHN] * 10)
        office.collate(b"north=north.dat")
        [whole] = [row["record_key"] for row in self.rows(office)
                   if row["first_name"] == "John" and row["record_key"].endswith("-1")]
        shown = office.run("show", "--db", office.name, whole)
        self.assertEqual((shown.returncode, shown.stderr), (0, b""))
        self.assertIn(f"record {whole}\n", shown.stdout.decode())
        # Two records of one desk erased at once: the desk is named once.
        johns = [row["record_key"] for row in self.rows(office) if row["first_name"] == "John"][:2]
        forgot = office.run("forget", "--db", office.name, *johns, "--why", "asked", *self.by())
        self.assertEqual(forgot.stdout, b"erased the answers of 2 records in the database; the desk's own file still "
                                        b"holds them (north)\n")

    def test_a_desk_mended_by_hand_replaces_the_record_and_rows_deleted_by_hand_come_back(self):
        office = self.office()
        people = [person(name) for name in (b"Lovelace", b"Babbage", b"Hopper", b"Turing", b"Noether", b"Curie")]
        office.write(b"north.dat", *people)
        self.assertEqual(office.collate(b"north=north.dat").stdout, b"6 added, 0 already present, 0 problems\n")
        office.write(b"north.dat", person(b"Lovelacy"), *people[1:])
        self.assertEqual(office.collate("--full", b"north=north.dat").stdout,
                         b"1 added, 5 already present, 1 marked gone from their desk's file, 0 problems\n")
        self.assertEqual(len(self.rows(office)), 6)
        self.assertEqual(len(self.rows(office, "--all-records")), 7)
        report = office.run("report", "--from-db", office.name).stdout
        self.assertIn(b"<th>Records</th><td class=\"n\">6</td>", report)
        # Each going and coming back is a revision, which a clerk's change meanwhile is checked by.
        for surnames in ([b"Lovelace"], [b"Lovelacy"]):
            office.write(b"north.dat", *[person(name) for name in surnames], *people[1:])
            office.collate("--full", b"north=north.dat")
        self.assertEqual(office.sql("SELECT surname, gone, revision FROM records WHERE surname LIKE 'Lovelac%' "
                                    "ORDER BY 1"), [["Lovelace", "1", "3"], ["Lovelacy", "0", "2"]])
        for surname, state in (("Lovelace", "  state new; gone from its desk's file, revision 3\n"),
                               ("Lovelacy", "  state new, revision 2\n")):
            self.assertIn(state, office.run("show", "--db", office.name, self.key_of(office, surname)).stdout.decode())
        # Each going and coming back is kept with when it was and who collated.
        shown = office.run("show", "--db", office.name, self.key_of(office, "Lovelace")).stdout.decode()
        moves = re.findall(r"\n    \d{4}-\d\d-\d\d \d\d:\d\d:\d\dZ  \S*  (gone|back)  \(([^)]*)\)", shown)
        self.assertEqual(moves, [("gone", "no longer in its desk's file"), ("back", "in its desk's file again"),
                                 ("gone", "no longer in its desk's file")], shown)
        # Erasing the gone record leaves the one that took its number found by the answers they share.
        by = self.by()
        forgot = office.run("forget", "--db", office.name, self.key_of(office, "Lovelace"), "--why", "asked", *by)
        self.assertEqual(forgot.returncode, 0, forgot.stderr)
        found = office.run("find", "--from-db", office.name, "--format", "jsonl", "lagos")
        self.assertEqual(sorted(json.loads(line)["surname"] for line in found.stdout.splitlines()),
                         sorted(["Lovelacy", "Babbage", "Hopper", "Turing", "Noether", "Curie"]))

        # Rows and counts emptied by hand: the next run sees the desk no longer agree and reads it whole.
        office.sql("DELETE FROM records WHERE surname <> 'Lovelacy'")
        again = office.collate(b"north=north.dat")
        self.assertEqual((again.stdout, again.stderr),
                         (b"5 added, 1 already present, 0 problems\n",
                          b"north.dat: the database no longer holds what its last collate left (rows or counts "
                          b"changed by hand); read in full\n"))
        office.sql("DELETE FROM collate_counts")
        full = office.collate("--full", b"north=north.dat")  # read in full as asked: nothing to tell
        self.assertEqual((full.stdout, full.stderr), (b"0 added, 6 already present, 0 problems\n", b""))
        self.assertEqual(office.collate(b"north=north.dat").stderr, b"")

    def test_a_desk_read_again_in_its_encoding_mends_its_names_and_keeps_corrections(self):
        office = self.office()
        joerg = JOHN.replace(b"Name :: John Doe", "Name :: Jörgen Groß".encode("cp1252"))
        koeln = joerg.replace(b"Birth Is :: Lagos", "Birth Is :: Köln".encode("cp1252"))
        office.write(b"east.dat", koeln, JANE)
        first = office.collate(b"east=east.dat")
        self.assertIn(b"not UTF-8 (a Windows desk? try --encoding CP1252)", first.stderr)
        key = self.key_of(office, "Gro\ufffd")
        self.assertEqual(office.run("correct", "--db", office.name, key, "street=Ring-Road", "place_of_birth=Cologne",
                                    "--why", "moved").returncode, 0)
        again = office.collate("--encoding", "CP1252", b"east=east.dat")
        self.assertEqual((again.stdout, again.stderr),
                         (b"0 added, 2 already present, 0 problems\n",
                          b"east: read again as CP1252 (was UTF-8): 1 record's answers changed\n"))
        [row] = [row for row in self.rows(office) if row["record_key"] == key]
        self.assertEqual((row["first_name"], row["surname"], row["place_of_birth"], row["street"]),
                         ("Jörgen", "Groß", "Cologne", "Ring-Road"))
        found = office.run("find", "--from-db", office.name, "jörgen")
        self.assertEqual(found.returncode, 0)
        self.assertIn("Groß".encode(), found.stdout)
        self.assertEqual(office.collate("--encoding", "CP1252", b"east=east.dat").stderr, b"")

    def test_clerks_at_once_lose_no_change_and_a_collate_meanwhile_keeps_them(self):
        office = self.office()
        office.write(b"north.dat", JANE, JOHN)
        office.collate(b"north=north.dat")
        jane = self.key_of(office, "Roe")
        office.write(b"north.dat", JOAN, mode="ab")
        runs = [threading.Thread(target=office.run,
                                 args=("correct", "--db", office.name, jane, f"street=Street-{n}", "--why", f"n{n}",
                                       "--wait", "60"))
                for n in range(8)]
        runs.append(threading.Thread(target=office.collate, args=("--wait", "60", b"north=north.dat")))
        for run in runs:
            run.start()
        for run in runs:
            run.join()
        history = office.run("show", "--db", office.name, jane).stdout.decode().split("  history\n")[1]
        changes = [line.split("correct street: ")[1].split("  (")[0].split(" -> ")
                   for line in history.splitlines() if "correct street" in line]
        # Each built on the one before: a chain through all eight, none lost.
        self.assertEqual(len(changes), 8)
        self.assertEqual(changes[0][0], "Ring-Road")
        for before, after in zip(changes, changes[1:]):
            self.assertEqual(after[0], before[1])
        [row] = [row for row in self.rows(office) if row["record_key"] == jane]
        self.assertEqual(row["street"], changes[-1][1])
        self.assertEqual(len(self.rows(office)), 3)

    def test_records_that_need_a_look_are_listed_with_their_keys(self):
        office = self.office()
        ended = JANE.replace(b"Place Of Birth Is :: Accra", b"Place Of Birth Is :: ").replace(
            b"Date Of Birth Is :: 01-01-1985", b"Date Of Birth Is :: ")
        office.write(b"north.dat", JOHN, ended)
        # Kwame's two ages agree: his desk has nothing that needs a look.
        office.write(b"south.dat", JOHN.replace(b"John Doe", b"Kwame Mensah").replace(b"Will Be :: 35", b"Will Be :: 41"))
        office.collate(b"north=north.dat", b"south=south.dat")
        john, jane = self.key_of(office, "Doe"), self.key_of(office, "Roe")
        checked = office.run("check", "--from-db", office.name)
        self.assertEqual(checked.stdout.decode(),
                         "north: 2 records, 2 need a look\n"
                         "south: 1 record\n"
                         f"north:1: needs a look ({john}): the two age answers disagree: 36 and 30\n"
                         f"north:31: needs a look ({jane}): place_of_birth is empty; date_of_birth is empty; "
                         "the years ahead -2.5 are not from 0 to 130\n")
        with open("/dev/full", "wb") as full:  # a standard output that takes nothing is a failure
            done = office.run("check", "--from-db", office.name, stdout=full)
        self.assertEqual((done.returncode, done.stderr),
                         (1, b"profiledesk-records: could not write to standard output: No space left on device\n"))
        files = office.run("check", "north.dat")
        self.assertEqual(files.stdout.decode().replace("north.dat", "north"),
                         "".join(checked.stdout.decode().splitlines(True)[2:]) + "north: 2 whole records\n")
        # Worked out again after a correction: John's second age put right, he needs no look.
        by = self.by()
        corrected = office.run("correct", "--db", office.name, john, "age_after_years=41", "--why", "asked", *by)
        self.assertEqual(corrected.returncode, 0, corrected.stderr)
        checked = office.run("check", "--from-db", office.name).stdout.decode()
        self.assertTrue(checked.startswith("north: 2 records, 1 needs a look\n"), checked)
        self.assertNotIn(john, checked)

    def test_a_record_written_again_and_again_is_keyed_by_its_place_as_far_as_it_is_shown(self):
        if self.KIND != "sqlite":
            self.skipTest("files alone")
        office = self.office()
        office.write(b"north.dat", *[JOHN] * 22)
        for args, shown in (([], 10), (["--all-problems"], 22)):
            lines = office.run("check", *args, "north.dat").stdout.decode().splitlines()
            keys = [line.split("(")[1].split(")")[0] for line in lines[:shown]]
            self.assertEqual(keys, [keys[0][:-2] + f"-{n}" for n in range(1, shown + 1)])
            self.assertEqual(lines[shown:-1], ["north.dat: 12 more of this kind: ages-disagree (--all-problems "
                                               "lists them all)"] if shown == 10 else [])
        page = office.run("report", "north.dat").stdout.decode()
        self.assertIn(keys[19], page)
        self.assertNotIn(keys[20], page)

    def test_keys_exported_from_the_files_are_the_databases_own(self):
        office = self.office()
        office.write(b"north.dat", JANE, JOHN, JOHN)
        office.collate(b"north=north.dat")
        office.run("review", "--db", office.name, self.key_of(office, "Roe"), "approved", *self.by())
        keys = [row["record_key"] for row in self.rows(office)]
        self.assertEqual(len(set(keys)), 3)
        files = office.run("export", "--with-keys", "--format", "jsonl", "north.dat").stdout.splitlines()
        self.assertEqual([json.loads(line)["record_key"] for line in files], keys)
        # In CSV, the key and the state are the last two cells; a file has no state.
        for args, states in ((["north.dat"], ["", "", ""]), (["--from-db", office.name], ["approved", "new", "new"])):
            done = office.run("export", "--with-keys", *args)
            rows = list(csv.reader(io.StringIO(done.stdout.decode(), newline="")))
            self.assertEqual(rows[0][-3:], ["age_after_years", "record_key", "state"])
            self.assertEqual([row[-2:] for row in rows[1:]], [list(pair) for pair in zip(keys, states)], args)

    def test_outputs_never_take_the_place_of_the_offices_data(self):
        office = self.office()
        office.write(b"north.dat", JANE)
        office.write(b"south.dat", JOHN)
        if self.KIND == "sqlite":
            office.collate(b"north.dat")
            with open(office.name, "rb") as f:
                before = f.read()
            refused = office.run("report", "-o", office.name, "north.dat")
            self.assertEqual((refused.returncode, refused.stderr),
                             (2, b"profiledesk-records: " + office.name +
                              b": is a SQLite database, which an output never replaces; name another file\n"))
            with open(office.name, "rb") as f:
                self.assertEqual(f.read(), before)
        refused = office.run("export", "-o", "south.dat", "north.dat")
        self.assertEqual(refused.returncode, 2)
        with open(os.path.join(office.folder, b"north.dat"), "ab") as out:
            appended = office.run("export", "north.dat", stdout=out)
        self.assertEqual((appended.returncode, appended.stderr),
                         (2, b"profiledesk-records: standard output is north.dat, which this run reads or writes; "
                             b"send the output elsewhere\n"))
        for name, record in ((b"north.dat", JANE), (b"south.dat", JOHN)):
            with open(os.path.join(office.folder, name), "rb") as f:
                self.assertEqual(f.read(), record)


class OnSqlite(Clerk, unittest.TestCase):
    KIND = "sqlite"


@unittest.skipIf(base.STATE_FILE is None, "no PostgreSQL server")
class OnPostgres(Clerk, unittest.TestCase):
    KIND = "postgres"


if __name__ == "__main__":
    os.makedirs(base.WORK, exist_ok=True)
    unittest.main(argv=sys.argv[:1], verbosity=1)
