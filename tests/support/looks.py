"""`check` lists, among its lines, the records that need a look; the cases about counting
records and telling problems leave those lines out."""

import re

RULES = (b"ended-early", b"empty-answer", b"age-not-number", b"age-out-of-range", b"ages-disagree",
         b"years-out-of-range", b"birth-not-date", b"birth-age-disagree")
LOOK = re.compile(rb"^[^\n]*: needs a look \([^\n]*\n|^[^\n]*: \d+ more of this kind: (" + b"|".join(RULES) +
                  rb") \([^\n]*\n", re.M)


def without_looks(out):
    return LOOK.sub(b"", out)
