#include "office/desks/encoding.hpp"

#include <algorithm>
#include <stdexcept>

#include "common/utf8.hpp"
#include "office/desks/encoding_names.hpp"

namespace profiledesk::office {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

struct CodePage {
    std::string_view name;
    CodePageTable table;
};

// Every encoding offered but UTF-8, in the order of kEncodingNames.
constexpr std::array<CodePage, kEncodingNames.size() - 1> kCodePages{{
#include "code_page_tables.inc"
}};

}  // namespace

std::optional<std::string_view> knownEncoding(std::string_view name) {
    const auto* known =
        std::find_if(kEncodingNames.begin(), kEncodingNames.end(),
                     [name](std::string_view offered) { return sameIgnoringCase(name, offered); });
    return known == kEncodingNames.end() ? std::nullopt : std::optional<std::string_view>(*known);
}

std::string knownEncodings() {
    std::string list;
    for (const std::string_view known : kEncodingNames) {
        list += (list.empty() ? "" : ", ") + std::string(known);
    }
    return list;
}

Decoder::Decoder(std::string_view encoding) : encoding_(encoding) {
    if (encoding_ == kUtf8) {
        return;
    }
    const auto* page = std::find_if(kCodePages.begin(), kCodePages.end(),
                                    [this](const CodePage& known) { return known.name == encoding_; });
    if (page == kCodePages.end()) {
        throw std::invalid_argument("no table for the encoding " + encoding_);
    }
    table_ = &page->table;
}

bool Decoder::decode(std::string_view bytes, std::string& out) const {
    if (table_ == nullptr) {
        // UTF-8 needs no table: only what is not UTF-8 is replaced.
        return !replaceNotUtf8(out, bytes).notUtf8;
    }
    bool valid = true;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            out += byte;
            continue;
        }
        const std::string_view character = (*table_)[value - 0x80U];
        valid = valid && !character.empty();
        out += character.empty() ? kReplacementCharacter : character;
    }
    return valid;
}

}  // namespace profiledesk::office
