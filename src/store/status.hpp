#pragma once

#include <string>
#include <utility>

namespace profiledesk {

// The outcome of a file operation. A failure carries a message that names the file and
// gives the system's reason, ready to show the user.
class Status {
public:
    static Status ok() { return Status{}; }
    static Status failure(std::string message) { return Status{std::move(message)}; }

    [[nodiscard]] bool isOk() const { return message_.empty(); }
    [[nodiscard]] const std::string& message() const { return message_; }

private:
    Status() = default;
    explicit Status(std::string message) : message_(std::move(message)) {}

    std::string message_;
};

}  // namespace profiledesk
