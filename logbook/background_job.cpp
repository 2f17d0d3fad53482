#include "background_job.h"

#include <QMetaObject>

namespace quillmere {

TBackgroundJob::TBackgroundJob(QObject* parent) : QObject(parent) {}

TBackgroundJob::~TBackgroundJob() {
  {
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
  }
  answered_.notify_all();
  // The work cannot be broken off midway (it leaves no half file only when it ends), so the
  // window waits for it; queued calls to this object are dropped with it.
  if (worker_.joinable()) worker_.join();
}

bool TBackgroundJob::Start(std::function<void()> work, std::function<void(std::exception_ptr)> finished) {
  if (running_) return false;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  error_ = nullptr;
  finished_ = std::move(finished);
  lastReport_ = {};
  worker_ = std::thread([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      error_ = std::current_exception();
    }
    QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
  });
  return true;
}

void TBackgroundJob::Finish() {
  worker_.join();
  running_ = false;
  const auto finished = std::move(finished_);
  finished_ = nullptr;
  const std::exception_ptr error = error_;
  error_ = nullptr;
  if (finished) finished(error);
}

void TBackgroundJob::Report(int phase, int64_t done, int64_t total) {
  const auto now = std::chrono::steady_clock::now();
  if (done < total && now - lastReport_ < std::chrono::milliseconds(50)) return;
  lastReport_ = now;
  QMetaObject::invokeMethod(
      this, [this, phase, done, total] { emit Progressed(phase, done, total); }, Qt::QueuedConnection);
}

bool TBackgroundJob::Ask(std::function<bool()> question) {
  std::unique_lock lock(mutex_);
  if (abandoned_) return false;
  answer_.reset();
  QMetaObject::invokeMethod(
      this,
      [this, question = std::move(question)] {
        const bool answer = question();
        {
          const std::lock_guard inner(mutex_);
          answer_ = answer;
        }
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  answered_.wait(lock, [this] { return answer_.has_value() || abandoned_; });
  const bool answer = answer_.value_or(false) && !abandoned_;
  answer_.reset();
  return answer;
}

}  // namespace quillmere
