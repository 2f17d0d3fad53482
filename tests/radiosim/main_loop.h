// TTestMainLoop: the main thread of a test standing in for the server's event loop: tasks handed
// over from any thread (the rig engine's posted notices, the serial port's hand-overs) run on the
// test's own thread, in order, when the test lets them.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace radiosim {

// Runs tasks handed over from any thread on the test's own thread, in order.
class TTestMainLoop {
 public:
  std::function<void(std::function<void()>)> Dispatcher() {
    return [this](std::function<void()> task) {
      {
        std::lock_guard lock(m_);
        tasks_.push_back(std::move(task));
      }
      cv_.notify_all();
    };
  }

  // Runs every task queued, including those queued meanwhile; the number run.
  int RunPending() {
    int n = 0;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(m_);
        if (tasks_.empty()) return n;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++n;
    }
  }

  // Runs tasks until `done` holds or `timeout` passes; whether `done` held. `done` is looked at
  // after every batch of tasks and at least every few milliseconds, since it may watch the
  // simulated radio's thread too.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      RunPending();
      if (done()) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return false;
      std::unique_lock lock(m_);
      cv_.wait_until(lock, std::min(end, now + std::chrono::milliseconds(2)),
                     [this] { return !tasks_.empty(); });
    }
  }

  // Runs tasks for a while (for checking that nothing happens).
  void RunFor(std::chrono::milliseconds span) {
    RunUntil([] { return false; }, span);
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace radiosim
