#pragma once

// Memory for a large table read at random, as a count of distinct answers is: each lookup
// lands on a page of its own. Where the system offers huge pages, a table of at least one is
// placed on their boundaries and asked to have them, so that a lookup costs a cache miss and
// not a page-table walk too.

#include <cstddef>
#include <new>

namespace profiledesk {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// `bytes` of memory, its contents undefined; throws std::bad_alloc.
void* allocateTable(std::size_t bytes);
void freeTable(void* table, std::size_t bytes) noexcept;

// The platform's part: asks for huge pages under [at, at + bytes), both on kHugePage
// boundaries, before they are touched. Whether it was asked: not where the platform or this
// build has no such advice, nor where the system refused it.
bool adviseHugePages(void* at, std::size_t bytes) noexcept;

// For a std::vector that holds such a table.
template <class T>
struct TableAllocator {
    using value_type = T;
    TableAllocator() = default;
    template <class U>
    explicit TableAllocator(const TableAllocator<U>& /*other*/) {}
    T* allocate(std::size_t count) { return static_cast<T*>(allocateTable(count * sizeof(T))); }
    void deallocate(T* table, std::size_t count) noexcept { freeTable(table, count * sizeof(T)); }
    bool operator==(const TableAllocator& /*other*/) const { return true; }
};

}  // namespace profiledesk
