#include "rules/search_entries.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "storage/run_beside.h"

void RunInOrder(const CInOrderWork& work) {
  struct CTaken {
    size_t first;
    size_t last;
    bool done;
  };
  std::mutex lock;
  std::condition_variable changed;
  // Chunks taken and not yet handed over, oldest first; chunk number
  // `delivered + i` is chunks[i] and runs into slot number % kInOrderSlots.
  std::deque<CTaken> chunks;
  size_t next = 0;       // the first item not taken yet
  size_t delivered = 0;  // chunks handed over
  bool halt = false;     // stopped, or a chunk failed
  std::exception_ptr failure;
  const auto stopped = [&work] { return work.stopped && work.stopped(); };

  // Under the lock: takes the next chunk when a slot is free for it.
  const auto take = [&](size_t& number, CTaken& taken) {
    if (halt || next >= work.count || chunks.size() >= kInOrderSlots) return false;
    taken = {next, std::clamp(work.chunkEnd(next), next + 1, work.count), false};
    next = taken.last;
    number = delivered + chunks.size();
    chunks.push_back(taken);
    return true;
  };
  // Runs a taken chunk outside the lock, and marks it done (or the work
  // failed) under it.
  const auto runTaken = [&](std::unique_lock<std::mutex>& held, int worker, size_t number, const CTaken& taken) {
    held.unlock();
    std::exception_ptr thrown;
    try {
      work.run(worker, taken.first, taken.last, number % kInOrderSlots);
    } catch (...) {
      thrown = std::current_exception();
    }
    held.lock();
    if (thrown) {
      if (!failure) failure = thrown;
      halt = true;
    } else {
      chunks[number - delivered].done = true;
    }
    changed.notify_all();
  };

  // The other thread takes chunks while there are free slots.
  const auto helpOut = [&] {
    std::unique_lock<std::mutex> mine(lock);
    for (;;) {
      changed.wait(mine, [&] { return halt || next >= work.count || chunks.size() < kInOrderSlots; });
      if (stopped()) halt = true;
      size_t number = 0;
      CTaken taken{};
      if (!take(number, taken)) break;
      runTaken(mine, 1, number, taken);
    }
    changed.notify_all();
  };
  // This thread takes chunks too, and hands over every finished one in
  // order. On every way out the other is told to halt: it may be waiting for
  // a slot this one would never free.
  const auto runAndDeliver = [&] {
    struct CHaltOnExit {
      std::mutex& lock;
      std::condition_variable& changed;
      bool& halt;
      ~CHaltOnExit() {
        const std::lock_guard<std::mutex> hold(lock);
        halt = true;
        changed.notify_all();
      }
    } haltOnExit{lock, changed, halt};
    std::unique_lock<std::mutex> held(lock);
    for (;;) {
      // Once stopped, nothing more is handed over: a chunk cut short by the
      // stop would leave a gap before the next.
      while (!halt && !chunks.empty() && chunks.front().done && !stopped()) {
        const CTaken ready = chunks.front();
        held.unlock();
        std::exception_ptr thrown;
        try {
          work.deliver(delivered % kInOrderSlots, ready.last);
        } catch (...) {
          thrown = std::current_exception();
        }
        held.lock();
        chunks.pop_front();
        ++delivered;
        if (thrown) {
          if (!failure) failure = thrown;
          halt = true;
        }
        changed.notify_all();
      }
      if (halt) break;
      if (stopped()) {
        halt = true;
        changed.notify_all();
        break;
      }
      size_t number = 0;
      CTaken taken{};
      if (take(number, taken)) {
        runTaken(held, 0, number, taken);
        continue;
      }
      if (chunks.empty() && next >= work.count) break;  // all handed over
      changed.wait(held);  // for the other thread's chunk
    }
  };
  // A second thread only when there is a second chunk for it; without one,
  // this thread does every chunk.
  const bool several = work.count != 0 && work.chunkEnd(0) < work.count;
  if (!several || !TryRunBeside(runAndDeliver, helpOut)) runAndDeliver();
  if (failure) std::rethrow_exception(failure);
}
