#pragma once

#include <cstddef>
#include <vector>

// Large arrays (tens of MB and more: a long run's intervals, its pulse train, the stability
// blocks) are mostly time spent faulting in 4 KiB pages. Asking the kernel for huge pages on the
// still untouched part of such an array takes the faults from one per 4 KiB to one per 2 MiB.
// Only advice: where the kernel or the platform has no huge pages nothing changes, and the
// contents are never affected. Any thread.
namespace common {

// Advises huge pages for the whole 2 MiB pages inside [data, data + bytes). Smaller ranges are
// left alone.
void AdviseHugePages(const void* data, size_t bytes);

// Reserves room for `count` elements and advises huge pages for it, before any of it is touched.
template <class T>
void ReserveLarge(std::vector<T>& values, size_t count) {
  values.reserve(count);
  AdviseHugePages(values.data(), values.capacity() * sizeof(T));
}

}  // namespace common
