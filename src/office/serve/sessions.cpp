#include "office/serve/sessions.hpp"

#include <algorithm>

#include "office/serve/access.hpp"

namespace profiledesk::office::serve {

void Sessions::dropIdle(Clock::time_point now) {
    std::erase_if(held_, [now](const auto& entry) { return now - entry.second.lastUsed > kIdle; });
}

std::string Sessions::add(std::shared_ptr<Session> session, Clock::time_point now) {
    std::string token = newToken();
    session->csrf = newToken();
    const std::lock_guard lock(mutex_);
    dropIdle(now);
    if (held_.size() >= kMostSessions) {
        held_.erase(std::min_element(held_.begin(), held_.end(), [](const auto& a, const auto& b) {
            return a.second.lastUsed < b.second.lastUsed;
        }));
    }
    held_.emplace(token, Held{std::move(session), now});
    return token;
}

std::shared_ptr<Session> Sessions::find(const std::string& token, Clock::time_point now) {
    const std::lock_guard lock(mutex_);
    const auto found = held_.find(token);
    if (found == held_.end()) {
        return nullptr;
    }
    if (now - found->second.lastUsed > kIdle) {
        held_.erase(found);
        return nullptr;
    }
    found->second.lastUsed = now;
    return found->second.session;
}

void Sessions::remove(const std::string& token) {
    const std::lock_guard lock(mutex_);
    held_.erase(token);
}

std::size_t Sessions::size() {
    const std::lock_guard lock(mutex_);
    return held_.size();
}

}  // namespace profiledesk::office::serve
