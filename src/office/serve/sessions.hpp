#pragma once

// The browsers the view knows: each one that showed the printed address's secret, or whose
// clerk signed in, holds a session by a cookie. A session keeps who the clerk is, the token its
// forms carry, and on PostgreSQL the clerk's own connection, so that the database's rights decide
// what each clerk may do. Sessions unused for a while end, and so does the least used one when
// there are too many, so that neither memory nor connections grow without bound.

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "office/db/database.hpp"

namespace profiledesk::office::serve {

using Clock = std::chrono::steady_clock;

struct Session {
    bool keyShown = false;  // came by the printed address
    std::string clerk;      // whom changes are kept under; empty until signed in where that is asked
    std::string csrf;       // every form of the session carries it
    // On PostgreSQL, the connection the clerk signed in with; one request at a time uses it.
    std::unique_ptr<db::Database> db;
    std::mutex use;
};

class Sessions {
public:
    static constexpr std::size_t kMostSessions = 64;
    static constexpr std::chrono::minutes kIdle{60};

    // A new session's token; the least recently used goes when there are too many.
    std::string add(std::shared_ptr<Session> session, Clock::time_point now);
    // The session of the token, used now; none for an unknown token or one unused too long.
    std::shared_ptr<Session> find(const std::string& token, Clock::time_point now);
    void remove(const std::string& token);
    [[nodiscard]] std::size_t size();

private:
    struct Held {
        std::shared_ptr<Session> session;
        Clock::time_point lastUsed;
    };
    void dropIdle(Clock::time_point now);

    std::mutex mutex_;
    std::map<std::string, Held> held_;
};

}  // namespace profiledesk::office::serve
