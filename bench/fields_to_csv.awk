# The reference for the export benchmark: pulls eight of a record's fields into CSV, the way
# one would by hand with awk. Usage: mawk -f fields_to_csv.awk datas.dat
BEGIN { OFS = ","; print "first_name,surname,place_of_birth,age,street,shopping_centre,years_ahead,age_after_years" }
/^ Candidate Name :: / { first = $4; surname = $5; next }
/^ Candidate Place Of Birth Is :: / { place = $7; next }
/^ Candidate's Date Of Birth Is :: / { age = $NF; next }
/^ Enter The Street Name For This Center :: / { street = $NF; next }
/^ Your Age In / { years = $4; after = $10; next }
/^ --> The Nearest Shopping Center/ { print first, surname, place, age, street, $NF, years, after }
