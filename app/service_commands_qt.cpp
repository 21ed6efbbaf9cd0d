// The main window's service commands: the menu items and hidden buttons
// that read and write clock registers, check the link, switch the exchange
// and open the settings, parameters, line overview and About windows.
#include "app/line_overview.h"
#include "app/main_window.h"
#include "app/service_commands.h"
#include "app/service_mode_qt.h"
#include "config/busy_qt.h"
#include "config/parameters_window.h"
#include "config/register_values.h"
#include "config/settings_window.h"
#include "dialogs/about_dialog.h"
#include "dialogs/line_overview_dialog.h"
#include "link/exchange.h"
#include "link/host.h"
#include "link/switch_master.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <thread>

using namespace chronavel;

namespace {

constexpr uint8_t kRegMasterFlagsReg = 0x4D;

void Tell(const std::string& text)
{
    if (!text.empty())
        CurrentHost().ShowMessage(text);
}

} // namespace

void TForm1::ConnectServiceCommands()
{
    connect(N5, &QAction::triggered, this, &TForm1::N5Click);
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    connect(N8, &QAction::triggered, this, &TForm1::N8Click);
    connect(N10, &QAction::triggered, this, &TForm1::N10Click);
    connect(N11, &QAction::triggered, this, &TForm1::N11Click);
    connect(N12, &QAction::triggered, this, &TForm1::N12Click);
    connect(N20, &QAction::triggered, this, &TForm1::N20Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    ServiceMode->OnOverview = [this] { ShowLineOverview(); };
}

void TForm1::ShowLineOverview()
{
    if (!FormOverview) {
        auto* overview = new TLineOverview(this);
        overview->UntilTick = [this]() -> std::optional<std::chrono::milliseconds> {
            if (!Timer2->isActive())
                return std::nullopt;
            return std::chrono::milliseconds(Timer2->remainingTime());
        };
        overview->ReadTargetSettings = [this] { ReadAllSettings(); };
    }
    // Beside the main window, not modal: the technician goes on working.
    FormOverview->show();
    FormOverview->raise();
    FormOverview->activateWindow();
}

void TForm1::N5Click()
{
    if (Form3)
        Form3->exec();
}

void TForm1::N20Click()
{
    if (frmAbout)
        frmAbout->exec();
}

void TForm1::N7Click()
{
    // The click has already toggled the mark.
    N7->setChecked(ExchangeSwitch(N7->isChecked()));
}

void TForm1::N10Click()
{
    StopThread();
}

void TForm1::N11Click()
{
    StartExchangeOnce();
}

void TForm1::N12Click()
{
    StopExchangeAndClosePort();
}

void TForm1::N8Click()
{
    ReadAllSettings();
}

void TForm1::Button4Click()
{
    ReadAllSettings();
}

void TForm1::ReadAllSettings()
{
    const std::string why = chronavel::ReadAllSettings(Connection.TargetAddress);
    if (!why.empty()) {
        Tell(why);
        return;
    }
    Timer3->start();
}

void TForm1::Timer3Timer()
{
    // The read has ended only when the last request is answered or given
    // up, not merely taken from the ring: the window must show its answer.
    if (!SettingsReadFinished()) {
        // An exchange that has ended will never finish the read.
        if (!ExchangeRunning())
            Timer3->stop();
        return;
    }
    Timer3->stop();
    // Read: the clock answered its registers, not merely asked.
    if (!AnsweredBy(Connection.TargetAddress).Known().empty()) {
        Overview().SettingsRead(Connection.TargetAddress);
        if (FormOverview)
            FormOverview->Refresh();
    }
    CurrentHost().ShowMessage(kSettingsReceivedMessage);
    if (Form6 && !Closing())
        Form6->exec();
}

void TForm1::Button2Click()
{
    Tell(QueueRegisterWrite(Connection.TargetAddress, kRegMasterFlagsReg, 0x00));
}

void TForm1::Button3Click()
{
    if (!Connected()) {
        Tell(kNoConnectionMessage);
        return;
    }
    // The wait for the clock's answer keeps the windows painting.
    SetSwitchMasterSleep([](int ms) {
        RunOffWindowThread([ms] { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    });
    const SwitchResult result = SwitchMaster(Connection.TargetAddress, MasterActive.load() == 0);
    SetSwitchMasterSleep(nullptr);
    Tell(SwitchMasterText(result));
}

void TForm1::Button5Click()
{
    StatusBar1->SetPanelText(0, QString::fromUtf8(kLinkDown));
    const uint8_t target = Connection.TargetAddress;
    if (target == 0xFF)
        return;
    bool up = false;
    RunOffWindowThread([&up, target] { up = LinkCheck(target); });
    if (up)
        StatusBar1->SetPanelText(0, QString::fromUtf8(kLinkUp));
}

void TForm1::Button6Click()
{
    Tell(QueueRegisterRead(Connection.TargetAddress, Edit2->text().toStdString()));
}
