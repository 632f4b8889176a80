// The agent's command queue. Nothing in the running agent posts to it; it is kept so that
// the structure shared with the collection thread has a queue to refer to.
#pragma once

#include <cstdint>

namespace crv {

struct QueueMessage {
  uint32_t command;
  uint64_t argument;
};

class CMsgQueue {
 public:
  // Remembers the constructing thread.
  CMsgQueue();
  CMsgQueue(const CMsgQueue&) = delete;
  CMsgQueue& operator=(const CMsgQueue&) = delete;
  virtual ~CMsgQueue();

  // Accepts the message and drops it; 0 (success).
  uint32_t Post(const QueueMessage& message);

  uint32_t OwnerThreadId() const { return ownerThreadId_; }

 private:
  uint32_t ownerThreadId_;
};

}  // namespace crv
