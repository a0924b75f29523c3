#include "office/fold/caseless.hpp"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "common/utf8.hpp"
#include "office/fold/fold.hpp"

// Why the answers found are exactly those foldCase(answer).find(foldCase(text)) finds:
// - Folding leaves ASCII text ASCII, only A-Z lowered (compatibility forms, composition and
//   the folding of case all leave the other ASCII characters alone). So an ASCII answer is
//   searched as it stands, case ignored, and never holds a folded text with other bytes.
// - In an answer with other bytes, each ASCII byte of its folding is one of its own ASCII
//   bytes, lowered, or comes from a character whose folding alone holds it (the Kelvin sign
//   K makes k, ß ss, U+FB01 fi, U+017F s, fullwidth letters theirs, İ i). Neighbours can only
//   take such a letter away, never give one: every composed character lies beyond ASCII, no
//   ASCII character composes with the one before it, and a character's own marks compose with
//   its letter in any company (a later mark sorts after them, or composes with it first). So
//   when a byte of the folded text can come from nowhere in the answer, the answer cannot
//   hold the text, and is not folded.
// - Any other answer is folded whole and searched.
// The folding of each character is asked of the platform's library once and kept: no table of
// ours says what folds to what.

namespace profiledesk::office {

namespace {

constexpr char kCaseBit = 0x20;  // all that sets an ASCII capital apart from its small letter

bool isSmallLetter(char c) { return c >= 'a' && c <= 'z'; }

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | kCaseBit) : c; }

std::uint64_t& wordOf(std::array<std::uint64_t, 2>& set, char c) {
    return set.at(static_cast<unsigned char>(c) >> 6U);
}

std::uint64_t bitOf(char c) { return std::uint64_t{1} << (static_cast<unsigned char>(c) & 63U); }

void addByte(std::array<std::uint64_t, 2>& set, char c) { wordOf(set, c) |= bitOf(c); }

void removeByte(std::array<std::uint64_t, 2>& set, char c) { wordOf(set, c) &= ~bitOf(c); }

// A character of at most four bytes as one number: the memo's key.
char32_t keyOf(std::string_view character) {
    return std::accumulate(character.begin(), character.end(), char32_t{0},
                           [](char32_t key, char c) { return (key << 8U) | static_cast<unsigned char>(c); });
}

}  // namespace

CaselessSearch::CaselessSearch(std::string_view text) : folded_(foldCase(text)) {
    for (const char c : folded_) {
        if (static_cast<unsigned char>(c) < 0x80) {
            addByte(needed_, c);
        } else {
            asciiText_ = false;
        }
    }
    std::transform(folded_.begin(), folded_.end(), std::back_inserter(caseBits_),
                   [](char c) { return isSmallLetter(c) ? kCaseBit : char{0}; });
}

bool CaselessSearch::foundInAscii(std::string_view answer) const {
    const std::size_t length = folded_.size();
    if (length == 0) {
        return true;
    }
    if (!asciiText_ || answer.size() < length) {
        return false;
    }
    // A small letter is met in either case by one compare, its capital differing in one bit.
    const char first = folded_.front();
    const char firstBit = caseBits_.front();
    const char* const end = answer.data() + answer.size() - length + 1;
    for (const char* at = answer.data(); at != end; ++at) {
        if (static_cast<char>(*at | firstBit) != first) {
            continue;
        }
        std::size_t same = 1;
        while (same < length && static_cast<char>(at[same] | caseBits_[same]) == folded_[same]) {
            ++same;
        }
        if (same == length) {
            return true;
        }
    }
    return false;
}

bool CaselessSearch::foundIn(std::string_view answer) {
    if (isAscii(answer)) {
        return foundInAscii(answer);
    }
    return folded_.empty() || (couldHold(answer) && foldCase(answer).find(folded_) != std::string::npos);
}

bool CaselessSearch::couldHold(std::string_view answer) {
    AsciiSet missing = needed_;
    const auto none = [&missing] { return (missing[0] | missing[1]) == 0; };
    for (std::size_t at = 0; at < answer.size() && !none();) {
        const char c = answer[at];
        if (static_cast<unsigned char>(c) < 0x80) {
            removeByte(missing, lowered(c));
            ++at;
            continue;
        }
        // Bytes that are not UTF-8 fold as U+FFFD: nothing in ASCII.
        const Utf8Piece piece = utf8PieceAt(answer.substr(at));
        if (piece.whole) {
            const AsciiSet more = asciiOfFolded(answer.substr(at, piece.length));
            missing[0] &= ~more[0];
            missing[1] &= ~more[1];
        }
        at += piece.length;
    }
    return none();
}

CaselessSearch::AsciiSet CaselessSearch::asciiOfFolded(std::string_view character) {
    const char32_t key = keyOf(character);
    const auto known = asciiOfCharacter_.find(key);
    if (known != asciiOfCharacter_.end()) {
        return known->second;
    }
    AsciiSet set{};
    for (const char c : foldCase(character)) {
        if (static_cast<unsigned char>(c) < 0x80) {
            addByte(set, c);
        }
    }
    asciiOfCharacter_.emplace(key, set);
    return set;
}

}  // namespace profiledesk::office
