#include "platform/tick.h"

#include <chrono>
#include <mutex>

namespace chronavel::platform {

namespace {
std::mutex source_lock;
std::function<uint32_t()> source;  // guarded by source_lock
}  // namespace

uint32_t GetTickCount()
{
    {
        std::lock_guard<std::mutex> hold(source_lock);
        if (source)
            return source();
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

void SetTickSource(std::function<uint32_t()> fn)
{
    std::lock_guard<std::mutex> hold(source_lock);
    source = std::move(fn);
}

}  // namespace chronavel::platform
