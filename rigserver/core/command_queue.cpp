#include "command_queue.h"

#include <algorithm>

namespace tarvane {

bool TCommandQueue::HasStatusCommands() const {
  return std::any_of(items_.begin(), items_.end(),
                     [](const TQueueItem& item) { return item.Kind == ckStatus; });
}

}  // namespace tarvane
