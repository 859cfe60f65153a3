#include "common/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace common {

void AdviseHugePages(const void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t last = (begin + bytes) & ~(kHuge - 1);
  if (data == nullptr || last <= first) return;
  // The advice may be refused (no huge pages in this kernel): the pages are then as before.
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace common
