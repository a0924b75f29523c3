#include "office/output/progress.hpp"

#include <array>
#include <cstdio>
#include <string>
#include <utility>

namespace profiledesk::office {

namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRefreshEvery = std::chrono::milliseconds(250);

double mebibytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

Progress::Progress(std::ostream& err, bool enabled, std::uint64_t totalBytes, Clock clock)
    : err_(err),
      enabled_(enabled),
      clock_(std::move(clock)),
      totalBytes_(totalBytes),
      started_(clock_()),
      shown_(started_) {}

Progress::~Progress() { finish(); }

void Progress::addBytes(std::uint64_t bytes) {
    bytes_ += bytes;
    if (!enabled_) {
        return;
    }
    const auto now = clock_();
    if (now - started_ >= kQuietFor && now - shown_ >= kRefreshEvery) {
        show(now);
    }
}

void Progress::show(std::chrono::steady_clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double percent =
        totalBytes_ > 0 ? 100.0 * static_cast<double>(bytes_) / static_cast<double>(totalBytes_) : 0;
    std::array<char, 160> line{};
    const int length = std::snprintf(
        line.data(), line.size(), "\rread %.1f of %.1f MiB (%.0f%%), %.0f records/s ", mebibytes(bytes_),
        mebibytes(totalBytes_), percent, static_cast<double>(records_) / seconds);
    if (length > 0) {
        err_.write(line.data(),
                   std::min<std::streamsize>(length, static_cast<std::streamsize>(line.size() - 1)));
        err_.flush();
        showing_ = true;
    }
    shown_ = now;
}

void Progress::finish() {
    if (showing_) {
        // Blank the line out and return to its start.
        err_ << '\r' << std::string(72, ' ') << '\r' << std::flush;
        showing_ = false;
    }
}

}  // namespace profiledesk::office
