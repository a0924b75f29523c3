# The reference for the export and collate benchmarks: the 21 columns that
# `profiledesk-records export --format csv` writes, byte for byte, for files of whole 30-line
# records, the way one would write it by hand with awk (and without any of export's checks).
# Usage: mawk -f records_to_csv.awk datas.dat
function answer(line) { sub(/^.* :: /, "", line); sub(/ $/, "", line); return line }
# Quoted only when it must be, as export does: a comma, a quote or a line end inside.
function field(text) {
    if (text !~ /[",\r\n]/) return text
    gsub(/"/, "\"\"", text)
    return "\"" text "\""
}
BEGIN {
    split("January February March April May June July August September October November December", names, " ")
    for (m = 1; m <= 12; m++) month[names[m]] = sprintf("%02d", m)
    print "source,record,line,entered_at,first_name,surname,place_of_birth,date_of_birth,age," \
          "education_centre,street,coordinator,nearby_business,productivity_company,maintenance_company," \
          "zonal_library,library_fee,shopping_centre,nearest_school,years_ahead,age_after_years\r"
}
{ n = (NR - 1) % 30 + 1 }
n == 7 { split(answer($0), name, " "); first = name[1]; surname = name[2] }
n == 8 { place = answer($0) }
n == 9 { split($0, parts, " :: "); born = parts[2]; sub(/ ,.*/, "", born); age = parts[3] }
n == 10 { centre = answer($0) }
n == 11 { street = answer($0) }
n == 12 { coordinator = answer($0) }
n == 13 { business = answer($0) }
n == 14 { productivity = answer($0) }
n == 15 { maintenance = answer($0) }
n == 16 { years = $4; after = $10 }
n == 17 { shopping = answer($0) }
n == 18 { school = answer($0) }
n == 19 { library = answer($0) }
n == 20 { fee = answer($0); sub(/^N /, "", fee) }
n == 25 {
    # "The Time Now Is :: 09:56AM.  -->  Today's Date Is 1 January 2024." as 2024-01-01T09:56
    hour = substr($6, 1, 2) % 12 + (substr($6, 6, 2) == "PM" ? 12 : 0)
    year = $13; sub(/\.$/, "", year)
    when = sprintf("%s-%s-%02dT%02d:%s", year, month[$12], $11, hour, substr($6, 4, 2))
}
n == 30 {
    record++
    print field(FILENAME) "," record "," (NR - 29) "," when "," field(first) "," field(surname) "," \
          field(place) "," field(born) "," field(age) "," field(centre) "," field(street) "," \
          field(coordinator) "," field(business) "," field(productivity) "," field(maintenance) "," \
          field(library) "," field(fee) "," field(shopping) "," field(school) "," years "," after "\r"
}
