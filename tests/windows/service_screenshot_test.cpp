// The service facilities as the technician sees them, against the simulated
// line: the master search in the middle of a search, the sent-data log with
// a few lines, and the main window in service mode with the emulated display
// filled from the simulator's master. With CHRONAVEL_SCREENSHOT_DIR set, the
// pictures are saved there (docs/screenshots/ comes from this).
#include "app/core_state.h"
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "app/main_window.h"
#include "app/service_mode_qt.h"
#include "dialogs/find_master_dialog.h"
#include "dialogs/sent_log_window.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/screenshot.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <optional>

using namespace chronavel;

using test::CountColour;
using test::SaveShot;

class ServiceScreenshotTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<sim::Simulator> sim_;

    void StartLine(std::vector<uint8_t> clocks, std::optional<uint8_t> master)
    {
        sim::Options o;
        o.name = "shot0";
        o.clocks = std::move(clocks);
        o.master = master;
        o.seed = 21;
        o.status_interval_ms = 300;
        o.text_interval_ms = 1000;
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        QVERIFY2(sim_->Start(&error), error.c_str());
        Connection.ComPort = "shot0";
        Connection.ComSpeed = 9600;
        PortHandle.Set(OpenPort("shot0", 9600));
        QVERIFY(PortHandle);
    }

private slots:
    void init()
    {
        ResetCoreState();
        ResetSettings();
        dir_ = std::make_unique<test::TempDir>("chronavel-shots2");
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (dir_->path() / "no-sys").c_str(), 1);
    }
    void cleanup()
    {
        StopExchangeThread(std::chrono::milliseconds(3000));
        ClosePort();
        sim_.reset();
        ResetCoreState();
        ResetSettings();
        dir_.reset();
    }

    void masterSearchDuringASearch()
    {
        StartLine({1, 2}, std::nullopt);
        QtHost host;
        TForm4 form;
        QImage shot;
        form.OnProbe = [&](uint8_t a) {
            if (a == 120) {
                shot = form.grab().toImage();
                QTimer::singleShot(0, &form, &QWidget::close);
            }
        };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Button1Click();
        QVERIFY(test::WaitUntil([&] { return !form.isVisible(); }, 30000));
        QVERIFY(!shot.isNull());
        SaveShot(shot, "master-search.png");
        QCOMPARE(shot.size(), QSize(347, 92));
        // The bar is about half full: its chunk colour covers its left part
        // and not its right end.
        const QRect bar =
            QRect(form.ProgressBar1->mapTo(&form, QPoint(0, 0)), form.ProgressBar1->size());
        const QColor chunk = form.ProgressBar1->palette().color(QPalette::Highlight);
        QVERIFY(CountColour(shot, QRect(bar.left() + 4, bar.top() + 4, 100, 6), chunk) > 300);
        QCOMPARE(CountColour(shot, QRect(bar.right() - 40, bar.top() + 4, 30, 6), chunk), 0);
    }

    void logWithAFewLines()
    {
        StartLine({1, 2}, std::nullopt);
        QtHost host;
        StartExchangeThread();
        TForm2 log;
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        QCOMPARE(SyncTime(1), SyncOutcome::kQueued);
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() >= 2; }, 10000));
        QVERIFY(PutRequest(StandardRequest(2, kCmdReadRegister, 0x43, 0)));
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() >= 4; }, 10000));
        QVERIFY(PutRequest(StandardRequest(2, kCmdReadRegister, 0x4D, 0)));
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() >= 6; }, 10000));
        QTest::qWait(50);
        const QImage shot = log.grab().toImage();
        SaveShot(shot, "sent-data-log.png");
        QCOMPARE(shot.size(), QSize(1010, 181));
        // Dark text on a light background in the upper left.
        QVERIFY(CountColour(shot, QRect(4, 4, 300, 90), Qt::black) > 200);
        log.hide();
    }

    void mainWindowInServiceMode()
    {
        QtHost host;
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        TForm2 log;
        StartLine({1, 2}, 1);
        StartExchangeThread();
        form.ServiceMode->Switch(true);
        // The master's text block and status blocks fill the emulated display.
        QVERIFY(test::WaitUntil(
            [&] { return !form.Label8->text().isEmpty() && !form.FieldTable[0].Name.empty(); },
            15000));
        QTest::qWait(1200);
        const QImage shot = form.grab().toImage();
        SaveShot(shot, "main-window-service-mode.png");
        const int top = form.MainMenu1->height();
        QCOMPARE(shot.width(), 968);
        // Red digits of the emulated main field in the right half, white
        // names and red values in the grid below it.
        QVERIFY(CountColour(shot, QRect(500, top + 40, 460, 80), QColor(255, 0, 0)) > 500);
        QVERIFY(CountColour(shot, QRect(486, top + 164, 290, 280), Qt::white) > 500);
        QVERIFY(CountColour(shot, QRect(784, top + 164, 180, 280), QColor(255, 0, 0)) > 300);
        form.ServiceMode->Switch(false);
        form.hide();
    }
};

QTEST_MAIN(ServiceScreenshotTest)
#include "service_screenshot_test.moc"
