# The reference for the collate benchmark while `export` is not there: the 21 columns of
# each 30-line record as CSV, with the answers taken after " :: " on their lines.
function answer(line) { sub(/^.* :: /, "", line); sub(/ $/, "", line); return line }
function quoted(text) { gsub(/"/, "\"\"", text); return "\"" text "\"" }
BEGIN { print "source,record,line,entered_at,first_name,surname,place_of_birth,date_of_birth,age," \
              "education_centre,street,coordinator,nearby_business,productivity_company,maintenance_company," \
              "zonal_library,library_fee,shopping_centre,nearest_school,years_ahead,age_after_years\r" }
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
n == 25 { when = $6 " " $11 " " $12 " " $13 }
n == 30 {
    record++
    print quoted(FILENAME) "," record "," (NR - 29) "," quoted(when) "," quoted(first) "," quoted(surname) "," \
          quoted(place) "," quoted(born) "," quoted(age) "," quoted(centre) "," quoted(street) "," \
          quoted(coordinator) "," quoted(business) "," quoted(productivity) "," quoted(maintenance) "," \
          quoted(library) "," quoted(fee) "," quoted(shopping) "," quoted(school) "," years "," after "\r"
}
