#include "service/msg_queue.h"

#include "platform/platform.h"

namespace crv {

CMsgQueue::CMsgQueue() : ownerThreadId_(platform::Os().kernel->GetCurrentThreadId()) {}

CMsgQueue::~CMsgQueue() = default;

uint32_t CMsgQueue::Post(const QueueMessage& /*message*/) { return 0; }

}  // namespace crv
