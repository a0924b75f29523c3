// Conversion to UTF-8 with the C library's iconv.

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "office/desks/encoding.hpp"

namespace profiledesk::office {

struct Decoder::Converter {
    iconv_t handle;
};

Decoder::Decoder(std::string_view encoding) : encoding_(encoding) {
    if (encoding_ == kUtf8) {
        return;
    }
    iconv_t handle = ::iconv_open("UTF-8", encoding_.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
        throw std::runtime_error("cannot convert from " + encoding_ + ": " + std::strerror(errno));
    }
    converter_ = std::make_unique<Converter>(Converter{handle});
}

Decoder::~Decoder() {
    if (converter_) {
        (void)::iconv_close(converter_->handle);
    }
}

Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&& other) noexcept {
    if (this != &other) {
        if (converter_) {
            (void)::iconv_close(converter_->handle);
        }
        encoding_ = std::move(other.encoding_);
        converter_ = std::move(other.converter_);
    }
    return *this;
}

namespace {

// CP1255 and CP1258 hold back a letter that a combining mark may follow: lets it out.
void flushHeldBack(iconv_t handle, std::string& out) {
    constexpr std::size_t kRoom = 16;
    const std::size_t start = out.size();
    out.resize(start + kRoom);
    char* to = out.data() + start;
    std::size_t outLeft = kRoom;
    (void)::iconv(handle, nullptr, nullptr, &to, &outLeft);
    out.resize(out.size() - outLeft);
}

}  // namespace

bool Decoder::convert(std::string_view bytes, std::string& out) {
    iconv_t handle = converter_->handle;
    bool valid = true;
    // iconv's prototype takes a char** it never writes through.
    char* in = const_cast<char*>(bytes.data());  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        const std::size_t start = out.size();
        out.resize(start + inLeft * 4 + 4);  // room for the longest UTF-8 of each byte
        char* to = out.data() + start;
        std::size_t outLeft = out.size() - start;
        const std::size_t done = ::iconv(handle, &in, &inLeft, &to, &outLeft);
        const int error = errno;
        out.resize(out.size() - outLeft);
        if (done != static_cast<std::size_t>(-1)) {
            break;
        }
        if (error == EILSEQ || error == EINVAL) {
            // A byte the encoding has no character for, or a sequence cut short at the end.
            flushHeldBack(handle, out);
            out += kReplacementCharacter;
            ++in;
            --inLeft;
            valid = false;
        } else if (error != E2BIG) {
            throw std::runtime_error("cannot convert from " + encoding_ + ": " + std::strerror(error));
        }
    }
    flushHeldBack(handle, out);  // and leaves a fresh start for the next piece
    return valid;
}

}  // namespace profiledesk::office
