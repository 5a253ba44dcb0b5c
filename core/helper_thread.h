#pragma once

// Threads for work beside the caller's own: a plain thread that waits for its work when
// it goes, and a task that hands back the work's result or failure.

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class HelperThread {
 public:
  // Starts `work` on a new thread; a failure escaping it ends the program, as with
  // std::thread. Throws std::system_error when the system makes no thread.
  explicit HelperThread(std::function<void()> work) : thread_(std::move(work)) {}

  // Waits for the work; once done, again does nothing. The destructor waits too.
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::jthread thread_;
};

// std::async's launch on a helper thread: get() waits and gives the work's result or
// throws its failure; destroyed before, it still waits for the work.
template <class Result>
class HelperTask {
 public:
  template <class Work>
  explicit HelperTask(Work work) : task_(std::move(work)), result_(task_.get_future()), thread_([this] { task_(); }) {}

  Result get() {
    thread_.join();
    return result_.get();
  }

 private:
  std::packaged_task<Result()> task_;
  std::future<Result> result_;
  HelperThread thread_;  // last: it ends before the task it runs
};

template <class Work>
HelperTask(Work) -> HelperTask<std::invoke_result_t<Work>>;

// Calls `make(i)` for every i below `count`, each taken in turn by this thread and a helper
// (none for a single one, or when the system makes no thread); the first failure of
// either is thrown once both are done.
template <class Make>
void on_two_threads(std::size_t count, const Make& make) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < count; i = next++) make(i);
  };
  std::optional<HelperTask<void>> helper;
  if (count >= 2) {
    try {
      helper.emplace(work);
    } catch (const std::system_error&) {
      // No thread to be had: this one does it all.
    }
  }
  work();
  if (helper) helper->get();
}

}  // namespace vordak

VORDAK_PUBLIC_END
