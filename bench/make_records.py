"""Makes record files shaped like a real office's, for the benchmarks.

Usage: make_records.py DESK_PROGRAM OUT SIZE_BYTES (varied | distinct | distinct-long) [SEED]

varied:   answers drawn from realistic pools with a skew (a few names are common, most are
          rare), ages and years ahead spread as people's are, entry times spread over three
          years of office hours; two rare surnames for the searches, Kowalczyk (0.1% of records)
          and Öztürk (0.2%, a twentieth of them typed with combining diaeresis).
distinct: every answer of every record differs from every other, so that nothing a reader
          or a tally remembers from one record helps with the next.
distinct-long: the same with every answer four times as long, for what a tally keeps of each.

The fixed text of a record comes from a record the desk program itself writes, so the files
follow the program's layout exactly; only the answers, figures and times are put in here.
"""

import datetime
import os
import random
import re
import subprocess
import sys
import tempfile

MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
          "October", "November", "December"]

FIRST = ["John", "Mary", "Ama", "Kofi", "Chinedu", "Ngozi", "Fatima", "Ibrahim", "Grace", "Samuel", "Aisha",
         "Emeka", "Blessing", "Joseph", "Esther", "Daniel", "Ruth", "Musa", "Zainab", "Peter", "Adaeze",
         "Tunde", "Halima", "Yaw", "Akosua", "Kwame", "Efua", "Olu", "Bola", "Chioma", "Ada", "Jane", "José",
         "Zoë", "Łukasz", "Müller", "Siobhán", "Nguyễn", "Ayşe", "Ольга"]
SURNAMES = ["Okafor", "Mensah", "Adeyemi", "Bello", "Osei", "Abubakar", "Eze", "Boateng", "Okonkwo", "Danjuma",
            "Asante", "Nwosu", "Owusu", "Ibrahim", "Afolabi", "Appiah", "Chukwu", "Yakubu", "Agyeman", "Olawale",
            "Doe", "Roe", "Smith", "García", "Kowalski", "O'Brien", "Dąbrowska", "Иванова"]
PLACES = ["Lagos", "Accra", "Kumasi", "Abuja", "Ibadan", "Kano", "Tamale", "Enugu", "Cape-Coast", "Port-Harcourt",
          "Takoradi", "Jos", "Benin-City", "Ho", "Sunyani", "Owerri", "London", "Kraków", "Zürich"]
CENTRES = ["City-College", "Tech-Institute", "Open-University", "Harbour-Academy", "St-Mary's", "Polytechnic",
           "Community-School", "Teachers-College"]
STREETS = ["Harbour-Street", "Ring-Road", "Market-Street", "Station-Road", "Church-Lane", "High-Street",
           "Liberation-Road", "Airport-Road", "Hospital-Road", "Palm-Avenue", "Independence-Avenue"]
COORDINATORS = ["Mary-Okafor", "Kofi-Mensah", "Grace-Eze", "Musa-Bello", "Ama-Owusu", "Peter-Danjuma"]
BUSINESSES = ["Bakery-One", "Mill", "Cocoa-Co", "Fish-Market", "Textiles", "Printing-Press", "Garage",
              "Pharmacy", "Cold-Store", "Timber-Yard"]
COMPANIES = ["Steel-Works", "Cocoa-Co", "Agro-Ltd", "Cement-Plc", "Brewery", "Power-Co", "Water-Board"]
MAINTENANCE = ["Fix-It", "Repairs", "Build-Right", "Sparks-Electric", "Pipe-Masters", "Roof-Care"]
LIBRARIES = ["Central-Library", "West-Library", "East-Library", "North-Library", "Harbour-Library"]
SHOPS = ["Grand-Plaza", "Accra-Mall", "Palms-Mall", "Market-Square", "City-Centre", "Junction-Mall"]
SCHOOLS = ["Hill-School", "Park-School", "River-School", "Central-Primary", "St-John's", "Model-School"]


def surname(rng):
    """A surname from the pool, or one of the two rare ones a clerk's search looks for."""
    pick = rng.random()
    if pick < 0.001:
        return "Kowalczyk"
    if pick < 0.003:
        # Some keyboards type the diaeresis as a mark of its own after the letter.
        return "O\u0308ztu\u0308rk" if rng.random() < 0.05 else "Öztürk"
    return skewed(rng, SURNAMES)


def skewed(rng, pool):
    """A Zipf-like pick: the first entries are common, the last ones rare."""
    weights = [1.0 / (rank + 1) for rank in range(len(pool))]
    return rng.choices(pool, weights)[0]


def template(desk):
    """A record the desk writes, with each answer replaced by a {slot}."""
    marks = ["Qfirst", "Qsurname", "Qplace", "Qborn", "Qage", "41", "87", "Qcentre", "Qstreet",
             "Qcoordinator", "Qbusiness", "Qcompany", "Qmaintenance", "Qlibrary", "Qfee", "Qshop", "Qschool"]
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([desk], cwd=folder, input=("1 " + " ".join(marks) + "\n").encode(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                       check=True, timeout=60)
        with open(os.path.join(folder, "datas.dat"), encoding="utf-8") as f:
            text = f.read()
    text = text.replace("{", "{{").replace("}", "}}")
    # The figures first: they hold the numbers' digits.
    for pattern, slot in ((r"\b7569\b", "multiple"), (r"\b174\b", "addition"), (r"\b128\b", "after"),
                          (r"\b87\b", "years")):
        text, count = re.subn(pattern, "{" + slot + "}", text)
        if count == 0:
            raise SystemExit("make_records.py: the desk's record did not have the expected shape")
    for mark in marks:
        if mark.startswith("Q"):
            text = text.replace(mark, "{" + mark[1:] + "}")
    text = re.sub(r"\d\d:\d\d[AP]M\.  -->  Today's Date Is \d+ \w+ \d+\.", "{time}.  -->  Today's Date Is {date}.",
                  text)
    if "{time}" not in text or "{after}" not in text:
        raise SystemExit("make_records.py: the desk's record did not have the expected shape")
    return text


def figure(value):
    return "%g" % value  # as the desk shows a number: six significant digits


def clock(moment):
    hour = moment.hour % 12 or 12
    return f"{hour:02d}:{moment.minute:02d}{'AM' if moment.hour < 12 else 'PM'}", \
        f"{moment.day} {MONTHS[moment.month - 1]} {moment.year}"


def varied(rng, n, start, total):
    age = max(16, min(90, int(rng.gauss(34, 12))))
    years = rng.choice([1, 2, 3, 5, 5, 5, 10, 10, 15, 20, 25, 2.5, 0.5, 7])
    born = start.year - age
    # A desk appends as the days go by: over three years, in office hours.
    moment = start + datetime.timedelta(days=n * 3 * 365 // total, hours=rng.randrange(8, 18),
                                        minutes=rng.randrange(60))
    return {
        "first": skewed(rng, FIRST), "surname": surname(rng), "place": skewed(rng, PLACES),
        "born": f"{rng.randrange(1, 29):02d}-{rng.randrange(1, 13):02d}-{born}", "age": str(age),
        "ageText": str(age), "years": years, "centre": skewed(rng, CENTRES), "street": skewed(rng, STREETS),
        "coordinator": skewed(rng, COORDINATORS), "business": skewed(rng, BUSINESSES),
        "company": skewed(rng, COMPANIES), "maintenance": skewed(rng, MAINTENANCE),
        "library": skewed(rng, LIBRARIES), "fee": str(rng.choice([0, 50, 100, 150, 250, 500, 1500])),
        "shop": skewed(rng, SHOPS), "school": skewed(rng, SCHOOLS), "moment": moment,
    }


def distinct(rng, n, start, total):
    tag = f"{n:x}"
    moment = start + datetime.timedelta(minutes=n)
    answers = {key: f"{key.capitalize()}-{tag}" for key in
               ("first", "surname", "place", "centre", "street", "coordinator", "business", "company",
                "maintenance", "library", "shop", "school")}
    answers.update({"born": f"D{tag}", "age": str(18 + n % 60), "ageText": f"A{tag}", "years": n % 1000 + 1,
                    "fee": str(n), "moment": moment})
    return answers


def distinct_long(rng, n, start, total):
    answers = distinct(rng, n, start, total)
    for key in ("first", "surname", "place", "centre", "street", "coordinator", "business", "company",
                "maintenance", "library", "shop", "school", "born", "ageText"):
        answers[key] *= 4
    return answers


def main():
    desk, out, size, kind = os.path.abspath(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 2026)
    shape = template(desk)
    make = {"varied": varied, "distinct": distinct, "distinct-long": distinct_long}[kind]
    start = datetime.datetime(2024, 1, 1)
    total = max(1, size // 2400)  # about the records the file will hold
    written, n = 0, 0
    with open(out + ".part", "w", encoding="utf-8", newline="\n") as f:
        while written < size:
            chunk = []
            for _ in range(1000):
                a = make(rng, n, start, total)
                n += 1
                years, age = a["years"], int(a["age"])
                time_text, date_text = clock(a["moment"])
                chunk.append(shape.format(
                    first=a["first"], surname=a["surname"], place=a["place"], born=a["born"], age=a["ageText"],
                    years=figure(years), after=figure(age + years), multiple=figure(years * years),
                    addition=figure(years + years), centre=a["centre"], street=a["street"],
                    coordinator=a["coordinator"], business=a["business"], company=a["company"],
                    maintenance=a["maintenance"], library=a["library"], fee=a["fee"], shop=a["shop"],
                    school=a["school"], time=time_text, date=date_text))
            block = "".join(chunk)
            f.write(block)
            written += len(block.encode("utf-8"))
    os.replace(out + ".part", out)


if __name__ == "__main__":
    main()
