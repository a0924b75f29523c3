#pragma once

// Who may use the office's view in a browser, decided from what a request says of itself: the
// secret of the printed address, the cookies that stand for it and for a clerk's sign-in, where a
// form comes from, and which host the browser thinks it talks to. Plain functions of text, so
// that each rule is tested on its own.

#include <string>
#include <string_view>

#include "common/status.hpp"

namespace profiledesk::office::serve {

// A new secret, session or form token: 32 bytes from the system's random source, as hex.
std::string newToken();

// Whether two secrets are the same, in a time that does not tell where they differ.
bool sameSecret(std::string_view given, std::string_view expected);

// The value of the cookie `name` in a Cookie header; empty when it has none.
std::string cookieValue(std::string_view header, std::string_view name);

// A Set-Cookie value that no script reads and no other site's page sends: HttpOnly,
// SameSite=Strict, for the whole view; `forget` makes the browser drop it.
std::string cookieHeader(std::string_view name, std::string_view value, bool forget = false);

// Where the view listens.
struct ListenAddress {
    std::string host;  // as the socket takes it: 127.0.0.1, 0.0.0.0, ::1
    int port = 0;      // 0: a free one
    bool loopback = true;
};

// "ADDR:PORT" as --listen takes it ("[::1]:8080" for IPv6); the default is 127.0.0.1 on a
// free port.
Result<ListenAddress> parseListen(std::string_view text);

// The address a browser reaches it by: http://127.0.0.1:8080, http://[::1]:8080.
std::string originOf(const ListenAddress& address, int port);

// Whether a request's Host header names the view itself, as a page of another site that a
// name of its own points at 127.0.0.1 would not (DNS rebinding). Only a view on loopback
// knows every name it has.
bool hostIsOurs(std::string_view host, const ListenAddress& address, int port);

// Whether a request that changes something comes from the view's own pages: its Origin, where
// the browser sends one, is the view's own (http:// and its Host), and otherwise the browser
// does not say it comes from another site (Sec-Fetch-Site).
bool fromOwnPages(std::string_view origin, std::string_view fetchSite, std::string_view host);

}  // namespace profiledesk::office::serve
