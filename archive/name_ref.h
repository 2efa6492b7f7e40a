// Where a name lies in the reader's copy of the index region, and how a walk
// over names asks for their records ahead; internal to archive/.
// big_archive.h includes it for the index's inline reads, which a listing
// makes once per entry; nothing else outside archive/ may.
// The check stands outside the include guard, so that it is made on every
// include, also after big_archive.h has brought the header in.
#if !defined(TARN_INSIDE_ARCHIVE) && !defined(TARN_ARCHIVE_PUBLIC_HEADER)
#error "archive/name_ref.h is internal to the archive library"
#endif

#ifndef TARN_ARCHIVE_NAME_REF_H
#define TARN_ARCHIVE_NAME_REF_H

#include <cstddef>
#include <cstdint>

struct CNameRef {
  uint32_t at;      // where the name starts; its record's numbers are the 8 bytes before
  uint32_t length;  // its bytes, without the zero that ends it
};

// A walk in name order visits the records out of file order: ask for a
// record a few steps ahead of `i`, so its cache line is there when it is
// due. Both ends: a record of a few dozen bytes often spans two lines.
// Always inlined: GCC 12 at -O2 dropped both prefetches of the call it did
// not inline, and `tarn list` of 200,000 shuffled names took 1.3x the
// processor time for it (bench/archive_bench.sh; instruction counts do not
// show a stall).
#if defined(__GNUC__)
[[gnu::always_inline]]
#endif
inline void
PrefetchAhead(const uint8_t* records, const CNameRef* names, size_t i, size_t count) {
#if defined(__GNUC__)
  constexpr size_t kAhead = 16;
  if (i + kAhead < count) {
    const CNameRef ahead = names[i + kAhead];
    __builtin_prefetch(records + ahead.at - 8);
    __builtin_prefetch(records + ahead.at + ahead.length);
  }
#else
  (void)records;
  (void)names;
  (void)i;
  (void)count;
#endif
}

#endif  // TARN_ARCHIVE_NAME_REF_H
