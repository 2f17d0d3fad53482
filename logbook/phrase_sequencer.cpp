#include "phrase_sequencer.h"

#include <algorithm>

namespace quillmere {

TPhraseSequencer::TPhraseSequencer(QObject* parent) : QObject(parent) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    waiting_ = false;
    Pump();
  });
}

void TPhraseSequencer::Run(std::function<void()> step, bool speech) {
  TStep s;
  s.Action = std::move(step);
  s.Speech = speech;
  Add(std::move(s));
}

void TPhraseSequencer::Wait(int ms) {
  TStep s;
  s.WaitMs = std::max(0, ms);
  Add(std::move(s));
}

void TPhraseSequencer::Add(TStep step) {
  if (inner_ != nullptr) {
    // Inside a step: a plain step with no wait before it runs at once, as a nested call would.
    if (step.WaitMs < 0 && inner_->empty()) {
      Execute(step);
      return;
    }
    inner_->push_back(std::move(step));
    return;
  }
  if (!Idle()) {
    queue_.push_back(std::move(step));
    return;
  }
  queue_.push_back(std::move(step));
  Pump();
}

void TPhraseSequencer::Execute(TStep& step) {
  std::deque<TStep> inner;
  std::deque<TStep>* outer = inner_;
  inner_ = &inner;
  if (step.Action) step.Action();
  inner_ = outer;
  // The rest of this step's handler goes first.
  if (outer != nullptr) {
    for (TStep& s : inner) outer->push_back(std::move(s));
  } else {
    queue_.insert(queue_.begin(), std::make_move_iterator(inner.begin()), std::make_move_iterator(inner.end()));
  }
}

void TPhraseSequencer::Pump() {
  while (!waiting_ && !queue_.empty()) {
    TStep step = std::move(queue_.front());
    queue_.pop_front();
    if (step.WaitMs >= 0) {
      waiting_ = true;
      timer_.start(step.WaitMs);
      return;
    }
    Execute(step);
  }
}

void TPhraseSequencer::DropSpeech() {
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [](const TStep& s) { return s.Speech; }), queue_.end());
  if (inner_ != nullptr)
    inner_->erase(std::remove_if(inner_->begin(), inner_->end(), [](const TStep& s) { return s.Speech; }),
                  inner_->end());
}

}  // namespace quillmere
