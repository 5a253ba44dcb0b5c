#pragma once

// Threads for work beside the caller's own. Linux starts a new thread on its creator's CPU
// and moves it to an idle one only when it next balances its load, up to several
// milliseconds later: until then the two take turns on one CPU while another sits idle. A
// helper thread starts on another CPU the process may use, when there is one, and may move
// like any other thread from then on.

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <type_traits>
#include <utility>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class HelperThread {
 public:
  // Starts `work` on a new thread; a failure escaping it ends the program, as with
  // std::thread. Throws std::system_error when the system makes no thread.
  explicit HelperThread(std::function<void()> work);
  // Waits for the work, unless join() did.
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  void join();

 private:
  static void* run(void* self) noexcept;

  std::function<void()> work_;
  cpu_set_t allowed_{};  // the creator's CPUs, given back to the thread once it runs
  bool spread_ = false;  // started away from the creator's CPU
  pthread_t thread_{};
  bool joinable_ = false;
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
// (none for a single one); the first failure of either is thrown once both are done.
template <class Make>
void on_two_threads(std::size_t count, const Make& make) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < count; i = next++) make(i);
  };
  if (count < 2) {
    work();
    return;
  }
  HelperTask helper(work);
  work();
  helper.get();
}

}  // namespace vordak

VORDAK_PUBLIC_END
