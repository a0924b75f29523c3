#include "office/desks/encoding.hpp"

#include <algorithm>

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

}  // namespace

std::optional<std::string_view> knownEncoding(std::string_view name) {
    const auto* known =
        std::find_if(kEncodingNames.begin(), kEncodingNames.end(),
                     [name](const EncodingName& offered) { return sameIgnoringCase(name, offered.name); });
    return known == kEncodingNames.end() ? std::nullopt : std::optional<std::string_view>(known->name);
}

std::string knownEncodings() {
    std::string list;
    for (const EncodingName& known : kEncodingNames) {
        list += (list.empty() ? "" : ", ") + std::string(known.name);
    }
    return list;
}

bool Decoder::decode(std::string_view bytes, std::string& out) {
    if (converter_) {
        return convert(bytes, out);
    }
    // UTF-8 needs no converter: only what is not UTF-8 is replaced.
    return !replaceNotUtf8(out, bytes).notUtf8;
}

}  // namespace profiledesk::office
