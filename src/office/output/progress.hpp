#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>

namespace profiledesk::office {

// Bytes read of the total and records a second, on one line of a terminal, for work that
// takes longer than a second. Shows nothing when not enabled (standard error is not a
// terminal), and clears its line when done.
class Progress {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    Progress(std::ostream& err, bool enabled, std::uint64_t totalBytes,
             Clock clock = std::chrono::steady_clock::now);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    Progress(Progress&&) = delete;
    Progress& operator=(Progress&&) = delete;

    void addBytes(std::uint64_t bytes);
    void addRecords(std::uint64_t records) { records_ += records; }
    // Clears the line, so that what follows starts on a line of its own.
    void finish();

private:
    void show(std::chrono::steady_clock::time_point now);

    std::ostream& err_;
    bool enabled_;
    Clock clock_;
    std::uint64_t totalBytes_;
    std::uint64_t bytes_ = 0;
    std::uint64_t records_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point shown_;
    bool showing_ = false;
};

}  // namespace profiledesk::office
