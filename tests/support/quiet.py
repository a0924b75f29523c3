"""What a run says beside what a case is about, left out by the cases that do not concern it:
`check` lists the records that need a look among its lines, and a collate that makes a new
database says so."""

import re

RULES = (b"ended-early", b"empty-answer", b"age-not-number", b"age-out-of-range", b"ages-disagree",
         b"years-out-of-range", b"birth-not-date", b"birth-age-disagree")
LOOK = re.compile(rb"^[^\n]*: needs a look \([^\n]*\n|^[^\n]*: \d+ more of this kind: (" + b"|".join(RULES) +
                  rb") \([^\n]*\n", re.M)
MADE = re.compile(rb"^profiledesk-records: made a new database [^\n]*\n", re.M)


def without_looks(out):
    return LOOK.sub(b"", out)


def without_made(err):
    return MADE.sub(b"", err)
