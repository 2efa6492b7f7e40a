#include "threads/in_order.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

#include "threads/run_beside.h"

namespace {

// The state RunInOrder's two threads share, under one lock.
class CInOrderRun {
 public:
  explicit CInOrderRun(const CInOrderWork& work) : m_work(work) {}

  // The other thread: takes chunks while there are free slots.
  void HelpOut();
  // This thread: takes chunks too, and hands over every finished one in
  // order. On every way out the other is told to halt: it may be waiting
  // for a slot this one would never free.
  void RunAndDeliver();
  // The first failure of either thread, if any.
  std::exception_ptr Failure() const { return m_failure; }

 private:
  struct CTaken {
    size_t first;
    size_t last;
    bool done;
  };
  bool Stopped() const { return m_work.stopped && m_work.stopped(); }
  bool Take(size_t& number, CTaken& taken);
  void RunTaken(std::unique_lock<std::mutex>& held, int worker, size_t number, const CTaken& taken);
  void Fail(std::exception_ptr thrown) {
    if (!m_failure) m_failure = std::move(thrown);
    m_halt = true;
  }
  void DeliverReady(std::unique_lock<std::mutex>& held);

  const CInOrderWork& m_work;
  std::mutex m_lock;
  std::condition_variable m_changed;
  // Chunks taken and not yet handed over, oldest first; chunk number
  // `m_delivered + i` is m_chunks[i] and runs into slot number % kInOrderSlots.
  std::deque<CTaken> m_chunks;
  size_t m_next = 0;       // the first item not taken yet
  size_t m_delivered = 0;  // chunks handed over
  bool m_halt = false;     // stopped, or a chunk failed
  std::exception_ptr m_failure;
};

// Under the lock: takes the next chunk when a slot is free for it.
bool CInOrderRun::Take(size_t& number, CTaken& taken) {
  if (m_halt || m_next >= m_work.count || m_chunks.size() >= kInOrderSlots) return false;
  taken = {m_next, std::clamp(m_work.chunkEnd(m_next), m_next + 1, m_work.count), false};
  m_next = taken.last;
  number = m_delivered + m_chunks.size();
  m_chunks.push_back(taken);
  return true;
}

// Runs a taken chunk outside the lock, and marks it done (or the work
// failed) under it.
void CInOrderRun::RunTaken(std::unique_lock<std::mutex>& held, int worker, size_t number,
                           const CTaken& taken) {
  held.unlock();
  std::exception_ptr thrown;
  try {
    m_work.run(worker, taken.first, taken.last, number % kInOrderSlots);
  } catch (...) {
    thrown = std::current_exception();
  }
  held.lock();
  if (thrown) Fail(thrown);
  else m_chunks[number - m_delivered].done = true;
  m_changed.notify_all();
}

void CInOrderRun::HelpOut() {
  std::unique_lock<std::mutex> mine(m_lock);
  for (;;) {
    m_changed.wait(
        mine, [&] { return m_halt || m_next >= m_work.count || m_chunks.size() < kInOrderSlots; });
    if (Stopped()) m_halt = true;
    size_t number = 0;
    CTaken taken{};
    if (!Take(number, taken)) break;
    RunTaken(mine, 1, number, taken);
  }
  m_changed.notify_all();
}

// Hands over the finished chunks at the front, in order. Once stopped,
// nothing more is handed over: a chunk cut short by the stop would leave a
// gap before the next.
void CInOrderRun::DeliverReady(std::unique_lock<std::mutex>& held) {
  while (!m_halt && !m_chunks.empty() && m_chunks.front().done && !Stopped()) {
    const CTaken ready = m_chunks.front();
    held.unlock();
    std::exception_ptr thrown;
    try {
      m_work.deliver(m_delivered % kInOrderSlots, ready.last);
    } catch (...) {
      thrown = std::current_exception();
    }
    held.lock();
    m_chunks.pop_front();
    ++m_delivered;
    if (thrown) Fail(thrown);
    m_changed.notify_all();
  }
}

void CInOrderRun::RunAndDeliver() {
  struct CHaltOnExit {
    CInOrderRun& run;
    ~CHaltOnExit() {
      const std::lock_guard<std::mutex> hold(run.m_lock);
      run.m_halt = true;
      run.m_changed.notify_all();
    }
  } haltOnExit{*this};
  std::unique_lock<std::mutex> held(m_lock);
  for (;;) {
    DeliverReady(held);
    if (m_halt) break;
    if (Stopped()) {
      m_halt = true;
      m_changed.notify_all();
      break;
    }
    size_t number = 0;
    CTaken taken{};
    if (Take(number, taken)) {
      RunTaken(held, 0, number, taken);
      continue;
    }
    if (m_chunks.empty() && m_next >= m_work.count) break;  // all handed over
    m_changed.wait(held);                                   // for the other thread's chunk
  }
}

}  // namespace

void RunInOrder(const CInOrderWork& work) {
  CInOrderRun run(work);
  // A second thread only when there is a second chunk for it; without one,
  // this thread does every chunk. It halves the caller's share: tarn grep
  // TurnRate over bench/grep_bench.sh's 2,000 rules texts leaves 270 of 533
  // million instructions on this thread (callgrind --separate-threads), and
  // took 180 ms against 226 alone, best of 12 on a busy machine.
  const bool several = work.count != 0 && work.chunkEnd(0) < work.count;
  if (!several || !TryRunBeside([&] { run.RunAndDeliver(); }, [&] { run.HelpOut(); }))
    run.RunAndDeliver();
  if (run.Failure()) std::rethrow_exception(run.Failure());
}
