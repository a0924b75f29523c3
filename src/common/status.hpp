#pragma once

#include <string>
#include <utility>

namespace profiledesk {

// The outcome of a file operation. Success is the code, never an empty message; a failure
// carries a message that names the file and gives the system's reason, ready to show the user.
class [[nodiscard]] Status {
public:
    enum class Code {
        ok,
        notFound,        // the file is not there
        accessDenied,    // the user may not open or change it
        notRegularFile,  // a device or a folder where the record file should be
        ioError,         // anything else the system refused, including a full disk
    };

    static Status ok() { return Status{Code::ok, {}}; }
    // A failure is never ok, whatever code is asked for.
    static Status failure(Code code, std::string message) {
        return Status{code == Code::ok ? Code::ioError : code, std::move(message)};
    }
    static Status failure(std::string message) { return failure(Code::ioError, std::move(message)); }
    // "WHAT 'PATH': REASON", with the system's reason kept apart for callers that name the
    // file their own way.
    static Status failure(Code code, const std::string& what, const std::string& path, std::string reason) {
        Status status = failure(code, what + " '" + path + "': " + reason);
        status.reason_ = std::move(reason);
        return status;
    }

    [[nodiscard]] bool isOk() const { return code_ == Code::ok; }
    [[nodiscard]] Code code() const { return code_; }
    [[nodiscard]] const std::string& message() const { return message_; }
    // The system's reason alone ("Permission denied"); empty where the failure has none.
    [[nodiscard]] const std::string& reason() const { return reason_; }

private:
    Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code_;
    std::string message_;
    std::string reason_;
};

}  // namespace profiledesk
