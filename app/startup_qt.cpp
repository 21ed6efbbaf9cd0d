#include "app/startup_qt.h"

#include "app/host_qt.h"
#include "app/look_qt.h"
#include "app/main_logic.h"
#include "app/main_window.h"
#include "config/parameters_window.h"
#include "config/settings_window.h"
#include "dialogs/about_dialog.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/find_master_dialog.h"
#include "dialogs/sent_log_window.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace chronavel {

namespace {

// How long the end of the program waits for the exchange thread (one pass
// is at most a read time-out and a pause).
constexpr auto kExchangeEndWait = std::chrono::milliseconds(600);

} // namespace

template <typename Window> void ProgramWindows::Create()
{
    windows_.push_back(std::make_unique<Window>());
}

ProgramWindows::ProgramWindows()
{
    // The fixed order, one line each: TForm1 (main window; its creation
    // loads the settings), TForm6 (remote settings), TForm3 (parameters),
    // TForm4 (master search), TForm5 (connection dialog), TForm2 (sent-data
    // log), TfrmAbout (About box).
    Create<TForm1>();
    Create<TForm6>();
    Create<TForm3>();
    Create<TForm4>();
    Create<TForm5>();
    Create<TForm2>();
    Create<TfrmAbout>();
}

ProgramWindows::~ProgramWindows()
{
    while (!windows_.empty())
        windows_.pop_back();
}

int RunProgram(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chronavel"));
    AddBundledFonts();
    int rc = 0;
    {
        QtHost host;
        ProgramWindows windows;
        // Closing the main window ends the program, whichever way it closes.
        Form1->OnClosed = [] { QCoreApplication::exit(0); };
        Form1->show();
        rc = QApplication::exec();
        host.Shutdown();
        if (!FinishExchange(kExchangeEndWait)) {
            // A thread stuck in the driver must not keep a closed program
            // alive; the settings are already on disk.
            std::fflush(nullptr);
            std::_Exit(rc);
        }
    }
    return rc;
}

} // namespace chronavel
