// TBackgroundJob: one long piece of a window's work (an ADIF export or import, the reading of the
// printed log) run on a worker thread, so the window stays responsive and shows progress while it
// runs. The handler that starts the job returns at once; the job's end runs on the main thread.
//
// The worker reports progress through Report(); the main thread hears of it through Progressed,
// at most every 50 ms. A question the work must put to the operator (the overwrite question of
// the table creator) goes through Ask(): it is asked on the main thread from the event loop and
// the worker waits for the answer. Destroying the job answers a pending question "no" and waits
// for the worker to finish, so the work never outlives the window and never waits for a window
// that is gone.
//
// Created, started and destroyed on the main thread; Report() and Ask() are for the worker.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace quillmere {

class TBackgroundJob : public QObject {
  Q_OBJECT
 public:
  explicit TBackgroundJob(QObject* parent = nullptr);
  ~TBackgroundJob() override;
  TBackgroundJob(const TBackgroundJob&) = delete;
  TBackgroundJob& operator=(const TBackgroundJob&) = delete;

  // The work is running (from Start until its end has run on the main thread).
  bool Running() const { return running_; }

  // Runs `work` on a worker thread, then `finished` on the main thread with the exception the
  // work raised (null when it ended normally). False, and nothing started, while a job runs.
  bool Start(std::function<void()> work, std::function<void(std::exception_ptr)> finished);

  // From the worker: how far the work is. `phase` is the caller's own number for the stage.
  void Report(int phase, int64_t done, int64_t total);
  // From the worker: runs `question` on the main thread and returns its answer; false when the
  // job is being destroyed.
  bool Ask(std::function<bool()> question);

 signals:
  void Progressed(int phase, qint64 done, qint64 total);

 private:
  void Finish();

  std::thread worker_;
  bool running_ = false;
  std::exception_ptr error_;
  std::function<void(std::exception_ptr)> finished_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<bool> answer_;
  bool abandoned_ = false;
  std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace quillmere
