#include <sys/mman.h>

#include "common/table_memory.hpp"

namespace profiledesk {

bool adviseHugePages([[maybe_unused]] void* at, [[maybe_unused]] std::size_t bytes) noexcept {
#ifdef HAVE_MADV_HUGEPAGE
    // Linux's transparent huge pages, which a system set to "madvise" gives only where asked.
    return madvise(at, bytes, MADV_HUGEPAGE) == 0;
#else
    return false;
#endif
}

}  // namespace profiledesk
