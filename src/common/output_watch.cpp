#include "common/output_watch.hpp"

#include <cerrno>
#include <system_error>

namespace profiledesk {

void ReasonKeepingBuffer::keepReason() {
    // errno still holds what the failed write set: nothing has run since.
    const int reason = errno;
    if (failure_.empty() && reason != 0) {
        failure_ = std::generic_category().message(reason);
    }
}

ReasonKeepingBuffer::int_type ReasonKeepingBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    errno = 0;
    const int_type put = next_.sputc(traits_type::to_char_type(c));
    if (traits_type::eq_int_type(put, traits_type::eof())) {
        keepReason();
    }
    return put;
}

std::streamsize ReasonKeepingBuffer::xsputn(const char* bytes, std::streamsize count) {
    errno = 0;
    const std::streamsize put = next_.sputn(bytes, count);
    if (put < count) {
        keepReason();
    }
    return put;
}

int ReasonKeepingBuffer::sync() {
    errno = 0;
    const int synced = next_.pubsync();
    if (synced != 0) {
        keepReason();
    }
    return synced;
}

OutputWatch::OutputWatch(std::ostream& stream) : stream_(stream), buffer_(*stream.rdbuf()) {
    stream_.rdbuf(&buffer_);
}

OutputWatch::~OutputWatch() {
    stream_.flush();
    const std::ios::iostate state = stream_.rdstate();
    stream_.rdbuf(&buffer_.next());
    stream_.setstate(state);
}

std::string outputFailure(const std::ostream& out) {
    std::string message = "could not write to standard output";
    if (const auto* kept = dynamic_cast<const ReasonKeepingBuffer*>(out.rdbuf());
        kept != nullptr && !kept->failure().empty()) {
        message += ": " + kept->failure();
    }
    return message;
}

void markOutputFailed(std::ostream& out, const std::string& reason) {
    if (auto* kept = dynamic_cast<ReasonKeepingBuffer*>(out.rdbuf()); kept != nullptr) {
        kept->keep(reason);
    }
    out.setstate(std::ios::badbit);
}

}  // namespace profiledesk
