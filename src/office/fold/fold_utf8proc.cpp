#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/utf8.hpp"
#include "office/fold/fold.hpp"

namespace profiledesk::office {

namespace {

constexpr utf8proc_int32_t kCapitalIWithDot = 0x130;

// Full case folding makes İ "i" and a combining dot, which "istanbul" would not find; the
// Turkic folding of that one letter, a plain i, is what a clerk means by it.
utf8proc_int32_t plainI(utf8proc_int32_t codepoint, void* /*unused*/) {
    return codepoint == kCapitalIWithDot ? 'i' : codepoint;
}

struct FreeBytes {
    void operator()(utf8proc_uint8_t* bytes) const {
        std::free(bytes);
    }  // NOLINT(cppcoreguidelines-no-malloc)
};

}  // namespace

std::string foldCase(std::string_view text) {
    // NFKC with case folding, as utf8proc_NFKC_Casefold does, with default ignorables dropped.
    constexpr auto options = static_cast<utf8proc_option_t>(
        UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_IGNORE);
    std::string valid;
    if (!isUtf8(text)) {
        (void)replaceNotUtf8(valid, text);
        text = valid;
    }
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map_custom(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                            static_cast<utf8proc_ssize_t>(text.size()), &folded, options, plainI, nullptr);
    const std::unique_ptr<utf8proc_uint8_t, FreeBytes> owned(folded);
    if (length < 0) {
        return std::string(text);  // only out of memory, the text being valid UTF-8
    }
    return {reinterpret_cast<const char*>(folded), static_cast<std::size_t>(length)};
}

}  // namespace profiledesk::office
