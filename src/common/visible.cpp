#include "common/visible.hpp"

#include <array>
#include <cstdio>

#include "common/utf8.hpp"

namespace profiledesk {

namespace {

constexpr unsigned char kC1Lead = 0xC2;  // U+0080 to U+009F are 0xC2 then 0x80 to 0x9F

bool isC1Tail(unsigned char byte) { return byte >= 0x80 && byte <= 0x9F; }

}  // namespace

std::string makeVisible(std::string_view bytes, bool keepLineEnds) {
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool lineEnd = byte == '\t' || byte == '\n';
        if ((byte < 0x20 && !(keepLineEnds && lineEnd)) || byte == 0x7F) {
            shown += '^';
            shown += byte == 0x7F ? '?' : static_cast<char>(byte + 0x40);
        } else if (byte == kC1Lead && i + 1 < bytes.size() &&
                   isC1Tail(static_cast<unsigned char>(bytes[i + 1]))) {
            std::array<char, 16> code{};
            (void)std::snprintf(code.data(), code.size(), "<U+%04X>",
                                static_cast<unsigned int>(static_cast<unsigned char>(bytes[i + 1])));
            shown += code.data();
            ++i;
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return shown;
}

std::string visibleText(std::string_view bytes) {
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        if (const std::size_t ascii = asciiPrefix(bytes.substr(at)); ascii > 0) {
            shown += makeVisible(bytes.substr(at, ascii));
            at += ascii;
            continue;
        }
        const Utf8Piece piece = utf8PieceAt(bytes.substr(at));
        if (piece.whole) {
            shown += makeVisible(bytes.substr(at, piece.length));  // a C1 control as <U+009B>
        } else {
            for (std::size_t i = 0; i < piece.length; ++i) {
                std::array<char, 8> code{};
                (void)std::snprintf(code.data(), code.size(), "<0x%02X>",
                                    static_cast<unsigned int>(static_cast<unsigned char>(bytes[at + i])));
                shown += code.data();
            }
        }
        at += piece.length;
    }
    return shown;
}

std::size_t unfinishedControl(std::string_view bytes) {
    return !bytes.empty() && static_cast<unsigned char>(bytes.back()) == kC1Lead ? 1 : 0;
}

}  // namespace profiledesk
