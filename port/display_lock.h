// The main window's seconds counter and the one lock that guards its reset
// and every copy of the register image (the decoder's status block, the
// settings window's snapshot).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace chronavel {

extern std::atomic<int32_t> DisplayTick;
extern std::mutex DisplayTickLock;

} // namespace chronavel
