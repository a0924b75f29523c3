// Who may use the view in a browser: each rule of access.hpp and sessions.hpp on its own.

#include <gtest/gtest.h>

#include <set>

#include "office/serve/access.hpp"
#include "office/serve/pages.hpp"
#include "office/serve/sessions.hpp"

namespace profiledesk::office::serve {
namespace {

TEST(ServeAccess, TheListenAddressIsLoopbackOnAFreePortUnlessToldAndNetworksAreToldApart) {
    const ListenAddress byDefault = parseListen("").value();
    EXPECT_EQ(byDefault.host, "127.0.0.1");
    EXPECT_EQ(byDefault.port, 0);
    EXPECT_TRUE(byDefault.loopback);
    const ListenAddress office = parseListen("0.0.0.0:8080").value();
    EXPECT_EQ(office.host, "0.0.0.0");
    EXPECT_EQ(office.port, 8080);
    EXPECT_FALSE(office.loopback);
    const ListenAddress six = parseListen("[::1]:80").value();
    EXPECT_EQ(six.host, "::1");
    EXPECT_TRUE(six.loopback);
    EXPECT_EQ(originOf(six, 80), "http://[::1]:80");
    EXPECT_EQ(parseListen("0.0.0.0:0").value().port, 0);  // a free one, on the office network
    for (const char* wrong :
         {"8080", ":8080", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:80x", "::1:80", "[]:80"}) {
        EXPECT_TRUE(parseListen(wrong).status().isUsage()) << wrong;
    }
}

TEST(ServeAccess, OnLoopbackOnlyTheViewsOwnNamesAreItsHost) {
    const ListenAddress loopback = parseListen("").value();
    EXPECT_TRUE(hostIsOurs("127.0.0.1:4242", loopback, 4242));
    EXPECT_TRUE(hostIsOurs("localhost:4242", loopback, 4242));
    EXPECT_FALSE(hostIsOurs("127.0.0.1:4243", loopback, 4242));
    EXPECT_FALSE(hostIsOurs("rebound.example:4242", loopback, 4242));
    EXPECT_FALSE(hostIsOurs("127.0.0.1.rebound.example:4242", loopback, 4242));
    EXPECT_FALSE(hostIsOurs("", loopback, 4242));
    EXPECT_TRUE(hostIsOurs("records.office.example:8080", parseListen("0.0.0.0:8080").value(), 8080));
}

TEST(ServeAccess, AChangeMustComeFromTheViewsOwnPages) {
    EXPECT_TRUE(fromOwnPages("http://127.0.0.1:4242", "same-origin", "127.0.0.1:4242"));
    EXPECT_FALSE(fromOwnPages("http://attacker.example", "cross-site", "127.0.0.1:4242"));
    EXPECT_FALSE(fromOwnPages("http://127.0.0.1:4243", "same-site", "127.0.0.1:4242"));
    EXPECT_FALSE(fromOwnPages("null", "", "127.0.0.1:4242"));
    // Without an Origin, the browser's word on where the request comes from.
    EXPECT_FALSE(fromOwnPages("", "cross-site", "127.0.0.1:4242"));
    EXPECT_FALSE(fromOwnPages("", "same-site", "127.0.0.1:4242"));
    EXPECT_TRUE(fromOwnPages("", "", "127.0.0.1:4242"));
}

TEST(ServeAccess, CookiesAreFoundByTheirWholeNameAndSetForNoScriptAndNoOtherSite) {
    EXPECT_EQ(cookieValue("a=1; profiledesk_session=abc; b=2", "profiledesk_session"), "abc");
    EXPECT_EQ(cookieValue("profiledesk_session2=x; profiledesk_session=y", "profiledesk_session"), "y");
    EXPECT_EQ(cookieValue("xprofiledesk_session=x", "profiledesk_session"), "");
    EXPECT_EQ(cookieValue("", "profiledesk_session"), "");
    EXPECT_EQ(cookieHeader("s", "abc"), "s=abc; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(cookieHeader("s", "", true), "s=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
}

TEST(ServeAccess, SecretsAreRandomAndComparedWhole) {
    const std::string token = newToken();
    EXPECT_EQ(token.size(), 64U);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(newToken(), token);
    EXPECT_TRUE(sameSecret(token, token));
    EXPECT_FALSE(sameSecret(token.substr(0, 63), token));
    EXPECT_FALSE(sameSecret(token.substr(0, 63) + "x", token));
    EXPECT_FALSE(sameSecret("", ""));
}

TEST(ServeAccess, LinksCarryTheirValuesPercentEncoded) {
    EXPECT_EQ(linkTo("/", {{"q", "m\xC3\xBCller & co"}, {"page", "2"}}), "/?q=m%C3%BCller%20%26%20co&page=2");
    EXPECT_EQ(linkTo("/look", {}), "/look");
}

TEST(ServeSessions, ASessionLastsWhileUsedAndTheLeastUsedGoesWhenThereAreTooMany) {
    Sessions sessions;
    const Clock::time_point start{};
    const std::string first = sessions.add(std::make_shared<Session>(), start);
    ASSERT_NE(sessions.find(first, start + Sessions::kIdle / 2), nullptr);
    EXPECT_NE(sessions.find(first, start + Sessions::kIdle), nullptr);  // used since, so not idle
    EXPECT_EQ(sessions.find("not-a-token", start), nullptr);
    EXPECT_EQ(sessions.find(first, start + 3 * Sessions::kIdle), nullptr);

    const std::string kept = sessions.add(std::make_shared<Session>(), start);
    std::set<std::string> others;
    for (std::size_t i = 1; i < Sessions::kMostSessions; ++i) {
        others.insert(sessions.add(std::make_shared<Session>(), start + std::chrono::seconds(1)));
    }
    (void)sessions.find(kept, start + std::chrono::seconds(2));
    const std::string newest = sessions.add(std::make_shared<Session>(), start + std::chrono::seconds(3));
    EXPECT_EQ(sessions.size(), Sessions::kMostSessions);
    EXPECT_NE(sessions.find(kept, start + std::chrono::seconds(4)), nullptr);
    EXPECT_NE(sessions.find(newest, start + std::chrono::seconds(4)), nullptr);
    sessions.remove(newest);
    EXPECT_EQ(sessions.find(newest, start + std::chrono::seconds(4)), nullptr);
}

}  // namespace
}  // namespace profiledesk::office::serve
