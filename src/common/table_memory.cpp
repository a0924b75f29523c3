#include "common/table_memory.hpp"

namespace profiledesk {

namespace {

std::size_t wholePages(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocateTable(std::size_t bytes) {
    if (bytes < kHugePage) {
        return ::operator new(bytes);  // smaller than one: the caches hold its pages' entries
    }
    void* table = ::operator new (wholePages(bytes), std::align_val_t{kHugePage});
    (void)adviseHugePages(table, wholePages(bytes));  // without them, only slower
    return table;
}

void freeTable(void* table, std::size_t bytes) noexcept {
    if (bytes < kHugePage) {
        ::operator delete(table);
    } else {
        ::operator delete (table, std::align_val_t{kHugePage});
    }
}

}  // namespace profiledesk
