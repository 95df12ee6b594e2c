// Port behaviour that does not depend on the platform.

#include "com_port.h"

long EffectiveBaudRate(long requested) {
    if (requested == 57600 || requested == 115200) {
        return requested;
    }
    return 9600;
}

uint8_t ReceiveByte() {
    uint8_t value = 0;
    ReceiveByteChecked(&value);
    return value;
}
