#include "common/table_memory.hpp"

namespace profiledesk {

// Windows gives large pages only to an account granted "Lock pages in memory", which a
// clerk's is not: tables keep the ordinary pages.
bool adviseHugePages(void* /*at*/, std::size_t /*bytes*/) noexcept { return false; }

}  // namespace profiledesk
