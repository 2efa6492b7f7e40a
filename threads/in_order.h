// Work over many items in chunks of consecutive items, done on the calling
// thread and one beside it, each chunk's result handed over on the calling
// thread in item order while later chunks are still being done. At most
// kInOrderSlots chunks wait to be handed over, so the memory the work
// holds stays a few chunks' results however many items there are: a
// search's matches, a listing's lines.
//
// Threading: `run` is called on either thread, never twice at once for one
// slot; `deliver` only on the caller's.
#pragma once

#include <cstddef>
#include <functional>

inline constexpr size_t kInOrderSlots = 4;

// Work over the items [0, count), in chunks of consecutive items.
struct CInOrderWork {
  size_t count = 0;
  // The end of the chunk that starts at `first`; at least first + 1.
  std::function<size_t(size_t first)> chunkEnd;
  // Does the items [first, last) into slot `slot` (below kInOrderSlots), on
  // thread `worker`: 0 for the calling thread, 1 for the one beside it.
  std::function<void(int worker, size_t first, size_t last, size_t slot)> run;
  // Hands slot `slot` over, on the calling thread, chunks in item order;
  // `done` is the end of its chunk. The slot is run into again afterwards.
  std::function<void(size_t slot, size_t done)> deliver;
  // Asked between chunks; true ends the work, dropping what is not yet
  // handed over. Called from either thread.
  std::function<bool()> stopped;
};

// Returns once every chunk is handed over, or the work was stopped. When
// `run` or `deliver` throws, the work ends and the exception reaches the
// caller once the other thread is done.
void RunInOrder(const CInOrderWork& work);
