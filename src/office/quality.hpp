#pragma once

// Records that need a look: whole records whose answers a desk could not have meant, told by a
// few plain rules on the answers alone, the same from a file, a database and the browser. A
// record that needs a look is still a record; the office decides what to do with it.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "office/columns.hpp"

namespace profiledesk::office {

struct Finding {
    std::string_view rule;  // the rule's short name, the same for every finding of its kind
    std::string what;       // for the clerk, naming the answers concerned
};

// The rules' short names, in the order findings are given.
inline constexpr std::string_view kEndedEarly = "ended-early";          // answers empty from one on
inline constexpr std::string_view kEmptyAnswer = "empty-answer";        // an answer empty among others
inline constexpr std::string_view kAgeNotNumber = "age-not-number";     // the age is no number
inline constexpr std::string_view kAgeOutOfRange = "age-out-of-range";  // not from 0 to 130
inline constexpr std::string_view kAgesDisagree = "ages-disagree";      // the two age answers differ
inline constexpr std::string_view kYearsOutOfRange = "years-out-of-range";
inline constexpr std::string_view kBirthNotDate = "birth-not-date";
inline constexpr std::string_view kBirthAgeDisagree = "birth-age-disagree";

// What is wrong with a record's answers (the export's columns, as now; only the answers and
// entered_at are looked at); none for most. Without `texts`, each finding's `what` is left
// empty: enough to keep or count the findings by rule, which is all most records need.
std::vector<Finding> lookAt(const std::array<std::string_view, kColumnCount>& values, bool texts = true);
// The same for a record read from a file, its day known already: what `check` and `report`
// ask of every record, kept cheap for the records that are right.
std::vector<Finding> lookAt(const StoredRecord& record, bool texts = true);
// The same into `findings`, emptied first: a reader of every record keeps its room.
void lookAt(const StoredRecord& record, std::vector<Finding>& findings, bool texts);

// The short names of the findings, joined by ','; empty for none. How a database keeps them.
std::string ruleList(const std::vector<Finding>& findings);

// The findings' texts joined by "; ".
std::string findingsText(const std::vector<Finding>& findings);

}  // namespace profiledesk::office
