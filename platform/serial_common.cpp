#include "platform/serial.h"

namespace chronavel::platform {

int WriteStallLimitMs(int baud)
{
    if (baud <= 0)
        baud = 9600; // speed unknown: the program's usual one
    return 2000 + static_cast<int>(10240LL * 1000 / baud);
}

} // namespace chronavel::platform
