#include "office/serve/access.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <random>

namespace profiledesk::office::serve {

std::string newToken() {
    // The system's source of randomness: getrandom on Linux, rand_s on Windows.
    std::random_device source;
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string token;
    token.reserve(64);
    for (int i = 0; i < 8; ++i) {
        std::uint32_t word = source();
        for (int nibble = 0; nibble < 8; ++nibble) {
            token += kHex[word & 0xFU];
            word >>= 4U;
        }
    }
    return token;
}

bool sameSecret(std::string_view given, std::string_view expected) {
    if (given.size() != expected.size() || expected.empty()) {
        return false;
    }
    unsigned difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned>(static_cast<unsigned char>(given[i]) ^
                                            static_cast<unsigned char>(expected[i]));
    }
    return difference == 0;
}

std::string cookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
            return std::string(pair.substr(name.size() + 1));
        }
    }
    return {};
}

std::string cookieHeader(std::string_view name, std::string_view value, bool forget) {
    std::string cookie(name);
    cookie.append("=").append(value).append("; Path=/; HttpOnly; SameSite=Strict");
    return forget ? cookie.append("; Max-Age=0") : cookie;
}

namespace {

bool isLoopback(std::string_view host) {
    return host == "::1" || host == "localhost" || host.starts_with("127.");
}

}  // namespace

Result<ListenAddress> parseListen(std::string_view text) {
    ListenAddress address;
    if (text.empty()) {
        address.host = "127.0.0.1";
        return address;
    }
    const std::size_t colon = text.rfind(':');
    const auto refused = [&text] {
        return Status::usage("--listen: '" + std::string(text) +
                             "' is not ADDRESS:PORT (127.0.0.1:8080, 0.0.0.0:8080, [::1]:8080)");
    };
    if (colon == std::string_view::npos || colon == 0) {
        return refused();
    }
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return refused();
        }
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return refused();  // an IPv6 address without its brackets
    }
    int number = -1;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 0 || number > 65535) {
        return refused();
    }
    address.host = std::string(host);
    address.port = number;
    address.loopback = isLoopback(host);
    return address;
}

std::string originOf(const ListenAddress& address, int port) {
    // Appended piece by piece: g++ 12 at -O3 warns of an overlap in a chain of +.
    const bool v6 = address.host.find(':') != std::string::npos;
    std::string origin("http://");
    origin.append(v6 ? "[" : "").append(address.host).append(v6 ? "]" : "");
    return origin.append(":").append(std::to_string(port));
}

bool hostIsOurs(std::string_view host, const ListenAddress& address, int port) {
    if (!address.loopback) {
        return true;
    }
    std::string suffix(":");
    suffix.append(std::to_string(port));
    if (!host.ends_with(suffix)) {
        return false;
    }
    const std::string_view name = host.substr(0, host.size() - suffix.size());
    return name == "localhost" || name == "[::1]" ||
           (name.starts_with("127.") && name.find_first_not_of("0123456789.") == std::string_view::npos);
}

bool fromOwnPages(std::string_view origin, std::string_view fetchSite, std::string_view host) {
    if (!origin.empty()) {
        return origin.starts_with("http://") && origin.substr(7) == host && !host.empty();
    }
    return fetchSite.empty() || fetchSite == "same-origin" || fetchSite == "none";
}

}  // namespace profiledesk::office::serve
