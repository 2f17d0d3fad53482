// TPhraseSequencer: runs the steps of the logbook's handlers in order where a handler must wait a
// few milliseconds between them (speech on waits 30 ms before "Speech activated. ", speech off
// 200 ms before it hides its controls). A wait never blocks and never runs the event loop inside
// a handler: it becomes a single-shot timer, and every step added while a wait is pending runs
// after it, so phrases keep the order in which the handlers asked for them.
//
// Run() runs a step at once when nothing waits, else queues it. Inside a running step, steps and
// waits it adds go before the steps queued earlier (they are the rest of that handler). Speech
// steps can be dropped by DropSpeech() (aborting speech also forgets the phrases still waiting).
//
// Main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

namespace quillmere {

class TPhraseSequencer : public QObject {
  Q_OBJECT
 public:
  explicit TPhraseSequencer(QObject* parent = nullptr);

  void Run(std::function<void()> step, bool speech = false);
  void Wait(int ms);
  void DropSpeech();
  // Nothing waits and nothing is queued.
  bool Idle() const { return !waiting_ && queue_.empty(); }

 private:
  struct TStep {
    int WaitMs = -1;  // >= 0: a wait
    std::function<void()> Action;
    bool Speech = false;
  };
  void Add(TStep step);
  void Pump();
  void Execute(TStep& step);

  std::deque<TStep> queue_;
  // Steps added by the step being run, in order; they go before queue_.
  std::deque<TStep>* inner_ = nullptr;
  QTimer timer_;
  bool waiting_ = false;
};

}  // namespace quillmere
