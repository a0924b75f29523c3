// Conversion to UTF-8 with the code page tables of Windows: MultiByteToWideChar, then
// WideCharToMultiByte.

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "office/desks/encoding.hpp"
#include "office/desks/encoding_names.hpp"

namespace profiledesk::office {

struct Decoder::Converter {
    UINT codePage;
};

namespace {

// The UTF-16 of `bytes`, or nothing if a byte has no character in the code page.
bool toWide(UINT codePage, std::string_view bytes, std::wstring& wide) {
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), length) ==
           length;
}

void appendUtf8(const std::wstring& wide, std::string& out) {
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(std::max(length, 0)));
    (void)::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data() + start, length, nullptr, nullptr);
}

}  // namespace

Decoder::Decoder(std::string_view encoding) : encoding_(encoding) {
    if (encoding_ == kUtf8) {
        return;
    }
    const auto* known = std::find_if(kEncodingNames.begin(), kEncodingNames.end(),
                                     [this](const EncodingName& name) { return name.name == encoding_; });
    if (known == kEncodingNames.end() || ::IsValidCodePage(known->codePage) == 0) {
        throw std::runtime_error("cannot convert from " + encoding_ + ": this system lacks its code page");
    }
    converter_ = std::make_unique<Converter>(Converter{known->codePage});
}

Decoder::~Decoder() = default;
Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&&) noexcept = default;

bool Decoder::convert(std::string_view bytes, std::string& out) {
    std::wstring wide;
    if (toWide(converter_->codePage, bytes, wide)) {
        appendUtf8(wide, out);
        return true;
    }
    // Every code page offered has one byte a character: each byte on its own tells which fail.
    bool valid = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (toWide(converter_->codePage, bytes.substr(i, 1), wide)) {
            appendUtf8(wide, out);
        } else {
            out += kReplacementCharacter;
            valid = false;
        }
    }
    return valid;
}

}  // namespace profiledesk::office
