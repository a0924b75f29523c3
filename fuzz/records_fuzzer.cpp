// Feeds arbitrary bytes to the record reader, in two pieces split where the first byte says,
// and checks what it must do whatever a file holds: never crash, and call a record whole
// only when rendering its values again gives back exactly its lines.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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
        if (rendered_ != record.text || record.number != ++records_) {
            std::abort();
        }
        return true;
    }
    void onProblem(const profiledesk::ScanProblem& problem) override {
        if (problem.line == 0 || problem.what.empty()) {
            std::abort();
        }
    }

private:
    std::string rendered_;
    std::size_t records_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t split = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % (bytes.size() + 1);
    Rerender listener;
    profiledesk::RecordScanner scanner(listener);
    scanner.feed(bytes.substr(0, split));
    scanner.feed(bytes.substr(split));
    scanner.finish();
    return 0;
}
