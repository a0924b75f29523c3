#include <memory>
#include <string>
#include <string_view>

#include "store/record_file.hpp"
#include "store/record_store.hpp"

namespace profiledesk {

namespace {

constexpr std::size_t kBufferSize = std::size_t{128} * 1024;

// Control characters other than tab and the line end, and DEL, as ^X: shown raw they could
// retitle the window, move the cursor or forge lines on the reader's terminal.
void writeVisible(std::ostream& out, std::string_view bytes) {
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool control = (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7f;
        if (!control) {
            continue;
        }
        out.write(bytes.data() + plainFrom, static_cast<std::streamsize>(i - plainFrom));
        out.put('^');
        out.put(byte == 0x7f ? '?' : static_cast<char>(byte + 0x40));
        plainFrom = i + 1;
    }
    out.write(bytes.data() + plainFrom, static_cast<std::streamsize>(bytes.size() - plainFrom));
}

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
        if (reader.copyRestTo(target.descriptor, endsWithNewline)) {
            if (!endsWithNewline) {
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
    while (target.out) {
        const std::size_t got = reader.read(buffer.get(), kBufferSize);
        if (got == 0) {
            break;
        }
        const std::string_view chunk(buffer.get(), got);
        if (target.isTerminal) {
            writeVisible(target.out, chunk);
        } else {
            target.out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        endsWithNewline = chunk.back() == '\n';
    }
    // Every line is shown with its line end, the last one too.
    if (!endsWithNewline) {
        target.out << '\n';
    }
    return reader.status();
}

}  // namespace profiledesk
