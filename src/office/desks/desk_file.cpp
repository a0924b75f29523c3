#include "office/desks/desk_file.hpp"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/native_path.hpp"
#include "common/utf8.hpp"
#include "office/desks/encoding.hpp"
#include "office/desks/read_ahead.hpp"
#include "store/line_ends.hpp"
#include "store/record_file.hpp"

namespace profiledesk::office {

namespace {

// Hands the records on with their answers in UTF-8, and tells where bytes are not valid in
// the desk's encoding. A record in ASCII, as most are, goes on as it is.
class Decoding final : public ScanListener {
public:
    Decoding(const DeskInput& desk, DeskListener& listener)
        : decoder_(desk.encoding.empty() ? kUtf8 : desk.encoding),
          named_(!desk.encoding.empty()),
          listener_(listener) {}

    bool onRecord(const StoredRecord& record) override {
        if (record.ascii) {
            return listener_.onRecord(record, record.text);
        }
        // One look at each byte: the ASCII part of a UTF-8 record is not looked at again.
        const std::size_t ascii = asciiPrefix(record.text);
        if (ascii == record.text.size() ||
            (decoder_.encoding() == kUtf8 && isUtf8(record.text.substr(ascii)))) {
            return listener_.onRecord(record, record.text);
        }
        // A desk's code page seldom makes valid UTF-8 of its letters; a file that is UTF-8
        // throughout was most likely named the wrong encoding. It is read as asked, and told.
        if (named_ && !toldUtf8_ && isUtf8(record.text.substr(ascii))) {
            toldUtf8_ = true;
            listener_.onNote({0, "looks like UTF-8; read as " + decoder_.encoding() + " as asked", {}});
        }
        decodeRecord(record);
        return listener_.onRecord(decoded_, record.text);
    }

    void onProblem(const ScanProblem& problem) override { listener_.onProblem(problem); }

private:
    // Converts the record piece by piece between the answers' bounds, so that each answer
    // keeps its own bounds, and tells each line where a piece held bytes not valid.
    void decodeRecord(const StoredRecord& record) {
        bounds_.assign({0, record.text.size()});
        for (const FieldSpan& span : record.spans) {
            if (span.found) {
                bounds_.push_back(span.offset);
                bounds_.push_back(span.offset + span.length);
            }
        }
        std::sort(bounds_.begin(), bounds_.end());
        bounds_.erase(std::unique(bounds_.begin(), bounds_.end()), bounds_.end());
        movedTo_.assign(bounds_.size(), 0);
        decodedText_.clear();
        badLines_.clear();
        const std::string_view text = record.text;
        for (std::size_t i = 0; i + 1 < bounds_.size(); ++i) {
            movedTo_[i] = decodedText_.size();
            const std::string_view piece = text.substr(bounds_[i], bounds_[i + 1] - bounds_[i]);
            if (isAscii(piece)) {
                decodedText_ += piece;
            } else if (!decoder_.decode(piece, decodedText_)) {
                badLines_.push_back(record.firstLine + static_cast<std::size_t>(std::count(
                                                           text.begin(), text.begin() + bounds_[i], '\n')));
            }
        }
        movedTo_.back() = decodedText_.size();
        decoded_.text = decodedText_;
        const auto moved = [this](std::size_t offset) {
            return movedTo_[static_cast<std::size_t>(
                std::lower_bound(bounds_.begin(), bounds_.end(), offset) - bounds_.begin())];
        };
        for (std::size_t i = 0; i < record.spans.size(); ++i) {
            const FieldSpan& span = record.spans.at(i);
            FieldSpan& to = decoded_.spans.at(i);
            to = span;
            if (span.found) {
                to.offset = moved(span.offset);
                to.length = moved(span.offset + span.length) - to.offset;
            }
        }
        decoded_.number = record.number;
        decoded_.firstLine = record.firstLine;
        decoded_.startOffset = record.startOffset;
        decoded_.endOffset = record.endOffset;
        decoded_.enteredAt = record.enteredAt;
        tellBadLines();
    }

    void tellBadLines() {
        if (badLines_.empty()) {
            return;
        }
        if (!named_) {
            if (!told_) {
                told_ = true;
                listener_.onNote({0, "not UTF-8 (a Windows desk? try --encoding CP1252)", {}});
            }
            return;
        }
        badLines_.erase(std::unique(badLines_.begin(), badLines_.end()), badLines_.end());
        for (const std::size_t line : badLines_) {
            listener_.onNote({line, "not " + decoder_.encoding(), {}});
        }
    }

    Decoder decoder_;
    bool named_;
    bool told_ = false;
    bool toldUtf8_ = false;
    DeskListener& listener_;
    StoredRecord decoded_;
    std::string decodedText_;  // decoded_'s text
    std::vector<std::size_t> bounds_;
    std::vector<std::size_t> movedTo_;
    std::vector<std::size_t> badLines_;
};

// The desk's file opened as its reading takes it: a pattern's match only if it is a regular
// file, never waiting on a FIFO (anyone who may write in the folder could stall the office's
// collate with one), and a path named on its own whatever it is, as a shell would.
std::unique_ptr<RecordReader> openDeskFile(const DeskInput& desk, RecordReader::LineEnds ends) {
    return std::make_unique<RecordReader>(
        desk.path, platformFiles(), ends,
        desk.fromPattern ? RecordReader::Takes::regularFileOnly : RecordReader::Takes::fileOrFifo);
}

// Whether the file is a pattern's match that is no regular file: told, and read no further.
bool skipped(const DeskInput& desk, const RecordReader& reader, DeskListener& listener, ScanCounts& counts) {
    if (!desk.fromPattern || reader.status().code() != Status::Code::notRegularFile) {
        return false;
    }
    listener.onNote({0, "not a regular file; skipped", {}});
    counts.skipped = true;
    return true;
}

// "PATH: REASON", as this tool names a file; the whole message where the system gave no reason.
Status namedByPath(const std::string& path, const Status& status) {
    return Status::failure(status.code(),
                           path + ": " + (status.reason().empty() ? status.message() : status.reason()));
}

// The bytes of a record longer than this are not read back to tell it again: no record
// written by a desk is near it, so the stored place is taken as wrong.
constexpr std::uint64_t kLongestTail = std::uint64_t{16} << 20;

// Whether the file holds, just before `place`, the record it held when the place was kept;
// the reader is then at the place.
bool holdsPlace(RecordReader& reader, const DeskFilePlace& place) {
    const std::uint64_t end = place.at.offset;
    if (place.tailLength == 0 || place.tailLength > end || place.tailLength > kLongestTail ||
        reader.remaining() < end || !reader.skip(end - place.tailLength)) {
        return false;
    }
    std::string tail(place.tailLength, '\0');
    for (std::size_t got = 0; got < tail.size();) {
        const std::size_t more = reader.read(tail.data() + got, tail.size() - got);
        if (more == 0) {
            return false;
        }
        got += more;
    }
    const LineEndsRead text = crlfToLf(tail.data(), tail.size(), true);
    return contentHash(std::string_view(tail.data(), text.kept)) == place.tail;
}

Status scanFrom(const DeskInput& desk, RecordReader& reader, const ScanStart& start, DeskListener& listener,
                ScanCounts& counts, std::size_t maxLineBytes, const ReadObserver& observer) {
    Decoding decoding(desk, listener);
    RecordScanner scanner(decoding, maxLineBytes, start);
    {
        ReadAhead pieces(reader, maxLineBytes);
        for (ReadPiece piece = pieces.next(); !piece.bytes.empty() && !scanner.stopped();
             piece = pieces.next()) {
            scanner.feed(piece.bytes, piece.found);
            if (observer) {
                observer(piece.bytes.size());
            }
        }
    }
    if (!reader.status().isOk()) {
        return namedByPath(desk.path, reader.status());
    }
    scanner.finish();
    counts.records = scanner.wholeRecords() - start.records;
    counts.problems = scanner.problems();
    return Status::ok();
}

}  // namespace

std::string contentHash(std::string_view text) {
    const XXH128_hash_t hash = XXH3_128bits(text.data(), text.size());
    std::array<char, 33> hex{};
    (void)std::snprintf(hex.data(), hex.size(), "%016llx%016llx",
                        static_cast<unsigned long long>(hash.high64),
                        static_cast<unsigned long long>(hash.low64));
    return {hex.data(), 32};
}

Status scanDeskFile(const DeskInput& desk, DeskListener& listener, ScanCounts& counts,
                    std::size_t maxLineBytes, const ReadObserver& observer) {
    // Shares the desk's own rules: only regular files and pipes, and a regular file only up to
    // the size it had under the desk's lock, so that a record being saved is not read half done.
    const std::unique_ptr<RecordReader> reader = openDeskFile(desk, RecordReader::LineEnds::asText);
    if (!reader->isOpen()) {
        return skipped(desk, *reader, listener, counts) ? Status::ok()
                                                        : namedByPath(desk.path, reader->status());
    }
    return scanFrom(desk, *reader, ScanStart{}, listener, counts, maxLineBytes, observer);
}

Status resumeDeskFile(const DeskInput& desk, const std::optional<DeskFilePlace>& place,
                      DeskListener& listener, ScanCounts& counts, std::size_t maxLineBytes,
                      const ReadObserver& observer, ReadFrom& how, bool& sized) {
    const std::string& path = desk.path;
    // The file's own bytes, whatever its line ends: places count them.
    auto reader = openDeskFile(desk, RecordReader::LineEnds::asStored);
    if (!reader->isOpen()) {
        return skipped(desk, *reader, listener, counts) ? Status::ok() : namedByPath(path, reader->status());
    }
    sized = reader->sized();
    how = ReadFrom::start;
    if (place && sized) {
        if (holdsPlace(*reader, *place)) {
            how = ReadFrom::place;
            if (observer) {
                observer(static_cast<std::size_t>(place->at.offset));
            }
            return scanFrom(desk, *reader, place->at, listener, counts, maxLineBytes, observer);
        }
        if (!reader->status().isOk()) {
            return namedByPath(path, reader->status());
        }
        how = ReadFrom::startChanged;
        reader = openDeskFile(desk, RecordReader::LineEnds::asStored);
        if (!reader->isOpen()) {
            return namedByPath(path, reader->status());
        }
    }
    return scanFrom(desk, *reader, ScanStart{}, listener, counts, maxLineBytes, observer);
}

std::uint64_t totalSize(const std::vector<DeskInput>& desks) {
    std::uint64_t total = 0;
    for (const DeskInput& desk : desks) {
        std::error_code error;
        const auto size = std::filesystem::file_size(nativePath(desk.path), error);
        total += error ? 0 : size;
    }
    return total;
}

bool isOneOf(const std::string& path, const std::vector<DeskInput>& desks) {
    return std::any_of(desks.begin(), desks.end(), [&path](const DeskInput& desk) {
        std::error_code error;
        return std::filesystem::equivalent(nativePath(path), nativePath(desk.path), error);
    });
}

}  // namespace profiledesk::office
