#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace profiledesk {

// Passes every byte on to another stream buffer at once, and keeps the system's reason for
// the first write that failed ("Broken pipe"): a stream only keeps that one did.
class ReasonKeepingBuffer final : public std::streambuf {
public:
    explicit ReasonKeepingBuffer(std::streambuf& next) : next_(next) {}

    [[nodiscard]] std::streambuf& next() const { return next_; }
    // Empty until a write fails.
    [[nodiscard]] const std::string& failure() const { return failure_; }
    // Keeps the reason of a write that failed past this buffer, straight to its descriptor.
    void keep(const std::string& reason) {
        if (failure_.empty()) {
            failure_ = reason;
        }
    }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int sync() override;

private:
    void keepReason();

    std::streambuf& next_;
    std::string failure_;
};

// Puts a ReasonKeepingBuffer under `stream` for as long as it lives; then flushes the stream
// and gives it back its own buffer.
class OutputWatch {
public:
    explicit OutputWatch(std::ostream& stream);
    ~OutputWatch();
    OutputWatch(const OutputWatch&) = delete;
    OutputWatch& operator=(const OutputWatch&) = delete;
    OutputWatch(OutputWatch&&) = delete;
    OutputWatch& operator=(OutputWatch&&) = delete;

private:
    std::ostream& stream_;
    ReasonKeepingBuffer buffer_;
};

// "could not write to standard output", and the system's reason where `out` kept one.
std::string outputFailure(const std::ostream& out);

// Fails `out` as a failed write through it would, keeping `reason` where it keeps reasons: a
// write straight to its descriptor failed. Nothing more is written through it.
void markOutputFailed(std::ostream& out, const std::string& reason);

}  // namespace profiledesk
