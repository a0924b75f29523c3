// Looks for the first line of the input in each later line, and in all of them together,
// through find's search and through the full folding of both, and stops at the first answer
// where the two disagree: the search may skip the folding only where it cannot change the
// answer.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "office/fold/caseless.hpp"
#include "office/fold/fold.hpp"

namespace {

void same(profiledesk::office::CaselessSearch& search, const std::string& text, std::string_view answer) {
    const bool folded = profiledesk::office::foldCase(answer).find(text) != std::string::npos;
    if (search.foundIn(answer) != folded) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = bytes.find('\n');
    if (lineEnd == std::string_view::npos) {
        return 0;
    }
    profiledesk::office::CaselessSearch search(bytes.substr(0, lineEnd));
    const std::string text = profiledesk::office::foldCase(bytes.substr(0, lineEnd));
    // The same search for every answer, as find keeps it: what it learnt of one character must
    // hold for the next answer too.
    const std::string_view answers = bytes.substr(lineEnd + 1);
    for (std::size_t start = 0; start <= answers.size();) {
        const std::size_t end = std::min(answers.find('\n', start), answers.size());
        same(search, text, answers.substr(start, end - start));
        start = end + 1;
    }
    same(search, text, answers);
    return 0;
}
