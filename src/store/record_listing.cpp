#include <memory>
#include <string>
#include <string_view>

#include "common/output_watch.hpp"
#include "common/visible.hpp"
#include "store/record_file.hpp"
#include "store/record_store.hpp"

namespace profiledesk {

namespace {

constexpr std::size_t kBufferSize = std::size_t{128} * 1024;

}  // namespace

Status listRecords(const std::string& path, const ListingTarget& target) {
    RecordReader reader(path);
    if (!reader.isOpen()) {
        // This message names 'data.dat' although the file is datas.dat; users know it so.
        target.out << "Unable to open the stored(saved) 'data.dat' file";
        return reader.status().code() == Status::Code::notFound ? Status::ok() : reader.status();
    }
    if (target.descriptor >= 0 && reader.isSameFileAs(target.descriptor)) {
        return Status::failure("could not list '" + path + "' into itself");
    }
    bool endsWithNewline = true;
    if (target.descriptor >= 0 && !target.isTerminal) {
        target.out.flush();  // what was written before the listing must come before it
        if (std::string writeFailure; reader.copyRestTo(target.descriptor, endsWithNewline, writeFailure)) {
            if (!writeFailure.empty()) {
                // Told as any failed write to the reader is ("Broken pipe" when it went away).
                markOutputFailed(target.out, writeFailure);
            } else if (!endsWithNewline) {
                target.out << '\n';
            }
            return reader.status();
        }
    }
    // A fixed buffer: memory stays the same however long the file or its lines are. It is
    // left unfilled, as every byte shown is read into it first.
    // NOLINTNEXTLINE(modernize-avoid-c-arrays): std::array would be zero-filled, or on the stack
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    // A failed write (a full disk, a file-size limit) ends the listing; the stream's state
    // tells the caller, which reports it once.
    // On a terminal, controls are shown visibly (stored text must not drive it), and a byte
    // that may begin one is held back until the next piece says what it is.
    std::string held;
    while (target.out) {
        const std::size_t got = reader.read(buffer.get(), kBufferSize);
        if (got == 0) {
            break;
        }
        const std::string_view chunk(buffer.get(), got);
        if (target.isTerminal) {
            held.append(chunk);
            const std::size_t keep = unfinishedControl(held);
            target.out << makeVisible(std::string_view(held).substr(0, held.size() - keep), true);
            held.erase(0, held.size() - keep);
        } else {
            target.out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        endsWithNewline = chunk.back() == '\n';
    }
    target.out << makeVisible(held, true);
    // Every line is shown with its line end, the last one too.
    if (!endsWithNewline) {
        target.out << '\n';
    }
    return reader.status();
}

}  // namespace profiledesk
