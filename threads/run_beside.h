// Work on a second thread: every thread of the core, of tarn and of the
// editor starts here.
//
// Two pieces of work at once, for the larger steps over a whole index: steps
// that split into independent halves (reading the index region, sorting
// groups of names, measuring names for the editor's tree) or into a maker
// and a taker that hand chunks over (the rows of a search). The wall time of
// such a step then nearly halves when a second core is free; the processor
// time does not. Each use says beside it which benchmark shows it pays.
// And one piece of work beside the caller for as long as it takes
// (CBeside): the editor's searches, which the window answers while they run.
#pragma once

#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

// Runs `beside` on a second thread while `here` runs on the caller's, and
// returns true when both have ended. When no thread can be started, runs
// neither and returns false: for work whose halves wait on each other, which
// the caller then does its own way on one thread. An exception from either
// reaches the caller once both have ended (the one from `here` first).
// REQUIRES: the two touch no memory that the other writes unsynchronised; if
// `beside` waits for `here`, `here` releases it on every way out, a throw
// included, or the join waits for ever.
template <typename Here, typename Beside>
bool TryRunBeside(Here&& here, Beside&& beside) {
  std::exception_ptr besideFailure;
  std::thread helper;
  try {
    helper = std::thread([&beside, &besideFailure] {
      try {
        beside();
      } catch (...) {
        besideFailure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  std::exception_ptr hereFailure;
  try {
    here();
  } catch (...) {
    hereFailure = std::current_exception();
  }
  helper.join();
  if (hereFailure) std::rethrow_exception(hereFailure);
  if (besideFailure) std::rethrow_exception(besideFailure);
  return true;
}

// Runs `beside` on a second thread while `here` runs on the caller's, and
// returns when both have ended. When no thread can be started, both run on
// the caller's, one after the other. An exception from either reaches the
// caller once both have ended (the one from `here` first).
// REQUIRES: the two touch no memory that the other writes.
template <typename Here, typename Beside>
void RunBeside(Here&& here, Beside&& beside) {
  if (TryRunBeside(here, beside)) return;
  here();
  beside();
}

// A piece of work running beside the caller's thread until it ends, for
// work that outlives the call that starts it. Joined when destroyed: the
// work must end by itself, or be told to before.
class CBeside {
 public:
  CBeside() = default;
  CBeside(const CBeside&) = delete;
  CBeside& operator=(const CBeside&) = delete;
  ~CBeside() { Join(); }

  // Starts `work` on a thread of its own; the system's reason when no thread
  // can be started (then `work` never runs), nothing (false) when it was.
  // REQUIRES: nothing started yet; `work` throws nothing (it would end the
  // program) and lives until it has run.
  template <typename Work>
  std::error_code Start(Work&& work) {
    try {
      m_thread = std::thread(std::forward<Work>(work));
    } catch (const std::system_error& error) {
      return error.code();
    }
    return {};
  }
  // Waits for the work to end; at once when none was started.
  void Join() {
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  std::thread m_thread;
};
