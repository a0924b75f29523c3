#include "office/desks/read_ahead.hpp"

namespace profiledesk::office {

ReadAhead::ReadAhead(RecordReader& reader, std::size_t maxLineBytes)
    : reader_(reader), maxLineBytes_(maxLineBytes), thread_([this] { fill(); }) {}

ReadAhead::~ReadAhead() {
    {
        const std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

ReadPiece ReadAhead::next() {
    std::unique_lock lock(mutex_);
    if (taken_) {
        slots_.at(current_).full = false;  // the scanner is done with the last piece
        current_ = (current_ + 1) % kSlots;
        changed_.notify_all();
    }
    scannerWaited_ = !slots_.at(current_).full;
    changed_.wait(lock, [this] { return slots_.at(current_).full; });
    taken_ = true;
    const Slot& slot = slots_.at(current_);
    return {{slot.buffer->bytes.data(), slot.size}, slot.found};
}

void ReadAhead::fill() {
    std::size_t from = kParts / 2;
    for (unsigned int filling = 0;; filling = (filling + 1) % kSlots) {
        Slot& slot = slots_.at(filling);
        {
            std::unique_lock lock(mutex_);
            bool readerWaits = false;  // on the scanner, which still holds this slot's piece
            while (!stopping_ && slot.full) {
                readerWaits = true;
                changed_.wait(lock);
            }
            if (stopping_) {
                return;
            }
            // Whoever waited had less to do: give this thread more or less of the next piece.
            if (readerWaits && from > 0) {
                --from;
            } else if (scannerWaited_ && from < kParts) {
                ++from;
            }
        }
        // The scanner never touches a slot that is not full, so this needs no lock.
        const std::size_t got = reader_.read(slot.buffer->bytes.data(), kReadAheadPiece);
        slot.found.clear();
        if (got > 0) {
            findWholeRecords(std::string_view(slot.buffer->bytes.data(), got), got / kParts * from,
                             maxLineBytes_, lines_, slot.found);
        }
        {
            const std::scoped_lock lock(mutex_);
            slot.size = got;
            slot.full = true;
        }
        changed_.notify_all();
        if (got == 0) {
            return;  // the end, or a failure the reader keeps
        }
    }
}

}  // namespace profiledesk::office
