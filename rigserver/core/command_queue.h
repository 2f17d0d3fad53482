// command_queue: the FIFO of commands waiting to go to one radio (TCommandQueue of TQueueItem),
// with the phase of the command at its head.
//
// The head is item 0; items are appended at the end. One command is in flight at a time: the
// head is sent (phase sending), then its reply is awaited (phase waiting) when it needs one, and
// it is deleted when the reply arrives, when it needs none and has left the port, or when its
// reply times out.
//
// Owned by its rig; not thread-safe by itself: the rig guards it with its lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "byte_funs.h"
#include "rig_types.h"

namespace tarvane {

// Where a queued command came from.
enum TCommandKind : uint8_t {
  ckInit = 0,    // an init command of the rig type
  ckWrite = 1,   // a parameter write
  ckStatus = 2,  // a status command of the rig type (a poll)
  ckCustom = 3,  // a client's own bytes
};

// The client that queued a custom command: its never-reused client id. The rig only carries it
// back with the reply and never reaches the client through it, so a client gone meanwhile is
// harmless.
using TCustomSender = uint64_t;

enum TQueuePhase : uint8_t {
  qpSending = 0,  // the head is being written to the port
  qpWaiting = 1,  // the head was sent and its reply is awaited
  qpIdle = 2,     // nothing in flight
};

struct TQueueItem {
  TByteArray Code;                // the bytes to send
  TCommandKind Kind = ckInit;
  TRigParam Param = pmNone;       // write commands
  int32_t Number = 0;             // index in InitCmd or StatusCmd
  TCustomSender CustSender = 0;   // custom commands
  int32_t ReplyLength = 0;
  std::string ReplyEnd;           // the terminator bytes

  bool NeedsReply() const { return ReplyLength > 0 || !ReplyEnd.empty(); }
};

class TCommandQueue {
 public:
  TQueuePhase Phase() const { return phase_; }
  void SetPhase(TQueuePhase phase) { phase_ = phase; }

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const TQueueItem& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
  // The command in flight or next to go; the queue must not be empty.
  const TQueueItem& Head() const { return items_.front(); }

  void Add(TQueueItem item) { items_.push_back(std::move(item)); }
  // Drops the head; nothing on an empty queue.
  void DeleteHead() {
    if (!items_.empty()) items_.pop_front();
  }
  void Clear() { items_.clear(); }

  // Whether any queued item is a status command.
  bool HasStatusCommands() const;

 private:
  std::deque<TQueueItem> items_;
  TQueuePhase phase_ = qpIdle;
};

}  // namespace tarvane
