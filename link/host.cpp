#include "link/host.h"

#include <atomic>
#include <cstdio>

namespace chronavel {

namespace {

class ConsoleHost final : public Host {
public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void ShowMessage(const std::string& text) override
    {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    bool ShowWarning(const std::string& text) override
    {
        std::fprintf(stderr, "Warning: %s\n", text.c_str());
        return false;
    }
};

ConsoleHost console_host;
std::atomic<Host*> installed{nullptr};

} // namespace

Host& CurrentHost()
{
    Host* h = installed.load(std::memory_order_acquire);
    return h ? *h : console_host;
}

void SetHost(Host* host)
{
    installed.store(host, std::memory_order_release);
}

} // namespace chronavel
