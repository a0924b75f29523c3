#pragma once

// Records of every shape for the reader's tests: random answers of any bytes but white space,
// figures a stream reads back as they were, any clock, and other maker details.

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "notices/maker_details.hpp"
#include "record/candidate_record.hpp"
#include "record/clock_snapshot.hpp"

namespace profiledesk::testing {

// A fixed seed, so that a failing round can be run again as it was.
inline std::mt19937 seeded(std::uint32_t seed) {
    return std::mt19937(seed);  // NOLINT(cert-msc32-c,cert-msc51-cpp)
}

inline std::string crlf(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return out;
}

// Any bytes a typed word can hold: everything but white space.
inline std::string randomWord(std::mt19937& random) {
    std::string word(std::uniform_int_distribution<std::size_t>(1, 12)(random), 'x');
    for (char& c : word) {
        do {
            c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        } while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r');
    }
    return word;
}

// Figures that a stream writes with six digits and reads back as the same double.
inline constexpr std::array<double, 9> kFigures{-0.0,   0.0, 1.52416e+12, 4e-320,   -2.5,
                                                -0.125, 35,  1e+300,      -7.25e-05};

inline CandidateRecord randomRecord(std::mt19937& random) {
    CandidateRecord record;
    std::array<std::string*, 15> words{&record.firstName,
                                       &record.surname,
                                       &record.placeOfBirth,
                                       &record.dateOfBirth,
                                       &record.ageText,
                                       &record.educationCentre,
                                       &record.streetName,
                                       &record.coordinatorName,
                                       &record.nearbyBusiness,
                                       &record.productivityCompany,
                                       &record.maintenanceCompany,
                                       &record.zonalLibrary,
                                       &record.libraryFee,
                                       &record.shoppingCentre,
                                       &record.nearestSchool};
    // A failed read leaves that answer and every later one empty.
    const std::size_t failedAt = std::uniform_int_distribution<std::size_t>(0, words.size() + 5)(random);
    for (std::size_t i = 0; i < words.size(); ++i) {
        *words.at(i) = i < failedAt ? randomWord(random) : std::string();
    }
    std::uniform_int_distribution<std::size_t> pick(0, kFigures.size() - 1);
    record.ageValue = kFigures.at(pick(random));
    record.yearsAhead = kFigures.at(pick(random));
    return record;
}

inline ClockSnapshot randomClock(std::mt19937& random) {
    const int hour = std::uniform_int_distribution<int>(1, 12)(random);
    const int minute = std::uniform_int_distribution<int>(0, 59)(random);
    std::array<char, 64> time{};
    (void)std::snprintf(time.data(), time.size(), "The Time Now Is :: %02d:%02d%s.", hour, minute,
                        minute % 2 == 0 ? "AM" : "PM");
    // Days every month has: a later day of a short month is no date.
    return ClockSnapshot{.dayOfMonth = std::uniform_int_distribution<int>(1, 28)(random),
                         .month = std::uniform_int_distribution<int>(0, 11)(random),
                         .year = std::uniform_int_distribution<int>(1970, 2400)(random),
                         .timeText = time.data()};
}

// A build with other maker details, with the fixed text's own marks inside them.
inline constexpr MakerDetails kOtherMaker{
    .makerName = "Desk [7] !!! of the North",
    .makerInitials = "N] !!!",
    .noticeText = "(C) 2031  -->  Today's Date Is  !!!",
    .postalAddress = "",
    .contactEmail = "",
    .contactPhone = "!!! !!!",
    .greetingTag = "",
    .defaultLocation1 = " ",
    .defaultLocation2 = "Zip :: 1 ",
    .collectionWebAddress = "x] -> End Of Collection(y",
    .collatorTag = "<->Collated Datas) <-> z",
    .collectionPhone = "<-- <--",
    .departmentLabel = "> Dept <",
};

}  // namespace profiledesk::testing
