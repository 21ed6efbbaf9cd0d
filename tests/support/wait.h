// Waiting for a condition another thread or process brings about, instead
// of sleeping a fixed time and hoping: the bound is generous so a loaded
// machine or a sanitizer build only makes the test slower, never wrong.
#pragma once

#include <chrono>
#include <thread>

namespace chronavel::test {

template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

} // namespace chronavel::test
