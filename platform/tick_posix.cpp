#include "platform/tick.h"

#include <chrono>

namespace chronavel::platform {

uint32_t SystemTickCount()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

} // namespace chronavel::platform
