#include "module_config.h"

namespace tarnix {

ReplyFault RejectAt(FaultPoint point, unsigned occurrence, uint8_t reply) {
    return ReplyFault{point, occurrence, false, reply};
}

ReplyFault SilentAt(FaultPoint point, unsigned occurrence) {
    return ReplyFault{point, occurrence, true, 0};
}

}  // namespace tarnix
