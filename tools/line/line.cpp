#include "tools/line/line.h"

#include "app/ini_file_chronavel.h"
#include "config/write_settings.h"
#include "link/exchange.h"
#include "link/reception.h"
#include "platform/console.h"
#include "platform/vports.h"
#include "port/port.h"
#include "tools/text/text.h"

#include <chrono>
#include <utility>

namespace chronavel::ctl {

std::atomic<bool> StopRequested{false};
std::atomic<int> StopSignal{0};
std::atomic<bool> CensusRequested{false};
std::atomic<bool> ReloadRequested{false};

namespace {

extern "C" void OnStopSignal(int sig)
{
    RequestStop(sig);
}

extern "C" void OnReload(int)
{
    CensusRequested.store(true);
    ReloadRequested.store(true);
}

constexpr auto kStopWait = std::chrono::milliseconds(3000);

bool StopHook()
{
    return StopRequested.load();
}

} // namespace

void RequestStop(int sig)
{
    StopSignal.store(sig);
    StopRequested.store(true);
}

void InstallSignalHandlers()
{
    platform::OnStopSignals(&OnStopSignal);
    platform::OnReloadSignal(&OnReload);
    // A header search or transaction in progress ends at once on a stop.
    SetLineStopHook(&StopHook);
}

Line::Line(const LineOptions& options, ToolHost& host) : options_(options), host_(host)
{
    Connection.ComPort = options.Port;
    Connection.ComSpeed = options.Speed;
    Connection.TargetAddress = options.Addr;
}

Line::~Line()
{
    Close();
}

void Line::SayNotOpened(const PortOpening& opened) const
{
    const std::string where =
        ValidUtf8(options_.Port) + " (" + ValidUtf8(PortPath(options_.Port)) + ")";
    Say(opened.text);
    if (opened.error == PortErrorKind::kSettingsRefused) {
        Say("chronavelctl: port " + where + " refused the line settings at " +
            std::to_string(options_.Speed) + " bit/s");
        return;
    }
    const std::string cause =
        OpenFailureCause(opened.failure, options_.Port, PortPath(options_.Port), Words::kEnglish);
    Say("chronavelctl: cannot open port " + where + (cause.empty() ? "" : ": " + ValidUtf8(cause)));
    std::string why;
    if (!platform::VirtualPortDirUsable(&why) && !why.empty())
        Say("chronavelctl: " + why);
}

int Line::Open(bool quiet)
{
    host_.ClearPortLost();
    ResetReadErrorNotice();
    PortOpening opened = TryOpenPort(options_.Port, options_.Speed);
    if (!opened.port) {
        if (!quiet)
            SayNotOpened(opened);
        return kExitPort;
    }
    if (!quiet) {
        ShowLineErrors(opened.port.get());
    } else {
        // Errors the device held from before are cleared unsaid, so they are
        // not taken for the next reply's.
        uint32_t ignored = 0;
        opened.port->ClearErrors(ignored);
    }
    PortHandle.Set(std::move(opened.port));
    ForgetWrittenFrame();
    echoes_at_open_ = Reception.EchoesDropped.load();
    echo_said_ = false;
    return kExitOk;
}

bool Line::IsOpen() const
{
    return PortHandle.Get() != nullptr;
}

void Line::StartExchange()
{
    StartExchangeThread();
    exchange_ = true;
}

bool Line::Lost() const
{
    platform::SerialPtr port = PortHandle.Get();
    if (!port || port->Lost() || host_.PortLost())
        return true;
    if (exchange_) {
        std::shared_ptr<TNewThread> t = ExchangeThread.Get();
        if (!t || !t->Running())
            return true;
    }
    return false;
}

void Line::ReadFailed(const std::optional<ReadFailure>& failure) const
{
    if (failure)
        host_.ShowPortError(failure->Kind, failure->Text);
}

RegisterValues Line::ReadRegisters(uint8_t addr, const std::vector<uint8_t>& regs, int limit) const
{
    RegistersRead read = ReadRegistersNow(addr, regs, limit);
    for (const LineNotice& told : read.Told)
        ShowLineNotice(told);
    ReadFailed(read.Failure);
    return std::move(read.Values);
}

void Line::SayEchoOnce()
{
    if (echo_said_ || !IsOpen() || Reception.EchoesDropped.load() == echoes_at_open_)
        return;
    echo_said_ = true;
    Say("chronavelctl: the adapter on " + ValidUtf8(options_.Port) +
        " echoes what is sent; the echo is not taken for an answer");
}

void Line::Close()
{
    SayEchoOnce();
    if (exchange_) {
        StopExchangeThread(kStopWait);
        exchange_ = false;
    }
    ClosePort();
}

int PortVanished(const LineOptions& options)
{
    Say("chronavelctl: port " + ValidUtf8(options.Port) + " has gone away");
    return kExitPort;
}

} // namespace chronavel::ctl
