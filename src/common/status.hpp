#pragma once

#include <optional>
#include <string>
#include <utility>

namespace profiledesk {

// The outcome of an operation. Success is the code, never an empty message; a failure
// carries a message that names what failed (the file, the database) and gives the reason,
// ready to show the user.
class [[nodiscard]] Status {
public:
    enum class Code {
        ok,
        notFound,        // the file or record is not there
        accessDenied,    // the user may not open or change it
        notRegularFile,  // a device or a folder where a regular file should be
        ioError,         // anything else the system refused, including a full disk
        usage,           // what the user asked for cannot be done as asked
        unsupported,     // this build cannot do it (PostgreSQL on Windows)
        conflict,        // another run or clerk changed it meanwhile
    };

    static Status ok() { return Status{Code::ok, {}}; }
    // A failure is never ok, whatever code is asked for.
    static Status failure(Code code, std::string message) {
        return Status{code == Code::ok ? Code::ioError : code, std::move(message)};
    }
    static Status failure(std::string message) { return failure(Code::ioError, std::move(message)); }
    static Status usage(std::string message) { return failure(Code::usage, std::move(message)); }
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
    // Whether the fault is in what was asked, not in the files or the system: a usage error.
    [[nodiscard]] bool isUsage() const { return code_ == Code::usage || code_ == Code::unsupported; }

private:
    Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code_;
    std::string message_;
    std::string reason_;
};

// A value, or the failure that stands instead of it.
template <typename T>
class [[nodiscard]] Result {
public:
    // Implicit both ways, so that a function returns its value or its failure as it is.
    // cppcheck-suppress noExplicitConstructor
    Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    // Only a failure: a Result that holds no value has a reason.
    // cppcheck-suppress noExplicitConstructor
    Result(Status status) : status_(std::move(status)) {  // NOLINT(google-explicit-constructor)
        if (status_.isOk()) {
            status_ = Status::failure("no value and no reason");
        }
    }

    [[nodiscard]] bool isOk() const { return value_.has_value(); }
    [[nodiscard]] const Status& status() const { return status_; }
    [[nodiscard]] T& value() & { return *value_; }
    [[nodiscard]] const T& value() const& { return *value_; }
    [[nodiscard]] T&& value() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    Status status_ = Status::ok();
};

}  // namespace profiledesk
