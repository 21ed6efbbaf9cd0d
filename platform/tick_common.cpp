#include "platform/tick.h"

#include <mutex>

namespace chronavel::platform {

namespace {
std::mutex source_lock;
std::function<uint32_t()> source; // guarded by source_lock
} // namespace

uint32_t GetTickCount()
{
    {
        std::lock_guard<std::mutex> hold(source_lock);
        if (source)
            return source();
    }
    return SystemTickCount();
}

void SetTickSource(std::function<uint32_t()> fn)
{
    std::lock_guard<std::mutex> hold(source_lock);
    source = std::move(fn);
}

} // namespace chronavel::platform
