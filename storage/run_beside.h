// Two pieces of work at once, for the larger steps over a whole index.
//
// The machines this runs on have two cores or more, and a listing of a large
// archive spends most of its time in steps that split into independent
// halves (reading the index region, sorting groups of names, measuring
// names for the editor's tree), or into a maker and a writer that hand
// blocks over (the lines of tarn list, the rows of a search). The wall time
// of such a step then nearly halves; the processor time does not. Every
// second thread of the core and of tarn starts here.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

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
