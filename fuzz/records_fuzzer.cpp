// Feeds arbitrary bytes to the record reader, in two pieces split where the first byte says,
// and checks what it must do whatever a file holds: never crash, and call a record whole
// only when rendering its values again gives back exactly its lines, and ASCII only when it is. The same
// bytes fed one at a time, where no record ever lies whole in a piece and none is found ahead, must tell
// exactly the same.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.hpp"
#include "record/record_scanner.hpp"

namespace {

class Rerender final : public profiledesk::ScanListener {
public:
    bool onRecord(const profiledesk::StoredRecord& record) override {
        profiledesk::FieldValues values;
        for (std::size_t i = 1; i < profiledesk::kFieldCount; ++i) {
            values.at(i) = record.field(static_cast<profiledesk::Field>(i));
        }
        rendered_.clear();
        profiledesk::renderRecord(values, rendered_);
        if (rendered_ != record.text || record.number != ++records_ ||
            record.ascii != profiledesk::isAscii(record.text)) {
            std::abort();
        }
        const profiledesk::EnteredAt& at = record.enteredAt;
        told += "record " + std::to_string(record.number) + " " + std::to_string(record.firstLine) + " " +
                std::to_string(record.startOffset) + " " + std::to_string(record.endOffset) + " " +
                std::to_string(at.date.year()) + "-" + std::to_string(at.date.month()) + "-" +
                std::to_string(at.date.day()) + " " + std::to_string(at.hour) + ":" +
                std::to_string(at.minute) + "\n";
        for (const profiledesk::FieldSpan& span : record.spans) {
            told += std::to_string(span.found) + " " + std::to_string(span.offset) + " " +
                    std::to_string(span.length) + "\n";
        }
        told += record.text;
        return true;
    }
    void onProblem(const profiledesk::ScanProblem& problem) override {
        if (problem.line == 0 || problem.what.empty()) {
            std::abort();
        }
        told += "problem " + std::to_string(problem.line) + " " + problem.what + "\n";
    }

    std::string told;  // everything heard, in order

private:
    std::string rendered_;
    std::size_t records_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t split = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % (bytes.size() + 1);
    // The second piece comes with the records another thread would find whole in it, from a
    // place the second byte says on.
    const std::string_view second = bytes.substr(split);
    const std::size_t from =
        bytes.size() < 2 ? 0 : static_cast<unsigned char>(bytes[1]) % (second.size() + 1);
    std::vector<profiledesk::FoundRecord> found;
    profiledesk::RecordLineMatcher lines;
    profiledesk::findWholeRecords(second, from, profiledesk::kDefaultMaxLineBytes, lines, found);
    Rerender inTwo;
    profiledesk::RecordScanner scanner(inTwo);
    scanner.feed(bytes.substr(0, split));
    scanner.feed(second, found);
    scanner.finish();
    Rerender byteByByte;
    profiledesk::RecordScanner slow(byteByByte);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        slow.feed(bytes.substr(at, 1));
    }
    slow.finish();
    if (inTwo.told != byteByByte.told) {
        std::abort();
    }
    // Each of the first lines, read as each line of a record, reads the same straight through
    // as by trying every way, after the lines before it read as the record's earlier lines.
    profiledesk::FieldSpans straight{};
    profiledesk::FieldSpans tried{};
    const auto same = [&straight, &tried] {
        return std::equal(straight.begin(), straight.end(), tried.begin(),
                          [](const profiledesk::FieldSpan& a, const profiledesk::FieldSpan& b) {
                              return a.found == b.found && a.offset == b.offset && a.length == b.length;
                          });
    };
    std::size_t start = 0;
    for (std::size_t index = 0; index < profiledesk::kRecordLines && start < bytes.size(); ++index) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        const std::string_view upTo = bytes.substr(0, end);
        if (profiledesk::matchRecordLine(index, upTo, start, straight) !=
                profiledesk::matchRecordLineByTrying(index, upTo, start, tried) ||
            !same()) {
            std::abort();
        }
        start = end + 1;
    }
    return 0;
}
