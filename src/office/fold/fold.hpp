#pragma once

// Text made comparable without regard to case, across Unicode: utf8proc folds it on every
// platform, so that a search finds the same answers everywhere; never a table of ours.

#include <string>
#include <string_view>

namespace profiledesk::office {

// `text` (UTF-8; bytes that are not are read as U+FFFD) folded for a caseless substring
// search: compatibility forms and composed and decomposed letters made one, case folded.
// İ (U+0130) folds to a plain i, so that "istanbul" finds "İstanbul" and "ISTANBUL" alike.
std::string foldCase(std::string_view text);

}  // namespace profiledesk::office
