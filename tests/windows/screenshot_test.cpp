// What the operator sees: the main window and the connection dialog as
// rendered, checked for the colours and places of their visible parts.
// With CHRONAVEL_SCREENSHOT_DIR set, the pictures are saved there
// (docs/screenshots/ comes from this).
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_window.h"
#include "app/time_sync.h"
#include "dialogs/connection_dialog.h"
#include "link/exchange.h"
#include "link/request.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/screenshot.h"
#include "support/temp_dir.h"
#include "testkit/fake_time.h"

#include <QComboBox>
#include <QImage>
#include <QMenuBar>
#include <QTest>
#include <cstdlib>
#include <memory>

using namespace chronavel;

using test::CountColour;
using test::SaveShot;

class ScreenshotTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<test::FakeTime> time_;

private slots:
    void init()
    {
        ResetSettings();
        dir_ = std::make_unique<test::TempDir>("chronavel-shots");
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (dir_->path() / "no-sys").c_str(), 1);
        time_ = std::make_unique<test::FakeTime>(test::LocalWall(2026, 12, 7, 14, 5, 9));
    }
    void cleanup()
    {
        time_.reset();
        ResetSettings();
        dir_.reset();
        unsetenv("CHRONAVEL_PORTS_DIR");
        unsetenv("CHRONAVEL_TTY_CLASS_DIR");
    }

    void mainWindow()
    {
        QtHost host;
        TForm1 form;
        form.Timer1Timer();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QImage shot = form.grab().toImage();
        SaveShot(shot, "main-window.png");
        const int top = form.MainMenu1->height();
        QCOMPARE(shot.width(), 484);
        QCOMPARE(shot.height(), top + 280);
        // Black client area; white headings; red digits, inside the window.
        QCOMPARE(shot.pixelColor(470, top + 120), QColor(Qt::black));
        QVERIFY(CountColour(shot, QRect(16, top + 8, 120, 30), Qt::white) > 50);
        QVERIFY(CountColour(shot, QRect(24, top + 134, 120, 30), Qt::white) > 50);
        QVERIFY(CountColour(shot, QRect(16, top + 39, 460, 90), QColor(255, 0, 0)) > 1000);
        QVERIFY(CountColour(shot, QRect(16, top + 167, 460, 90), QColor(255, 0, 0)) > 1000);
        QCOMPARE(CountColour(shot, QRect(480, top, 4, 261), QColor(255, 0, 0)), 0);
        form.hide();
    }

    void connectionDialog()
    {
        sim::Options o;
        o.name = "sim0";
        sim::Simulator sim(o);
        std::string error;
        QVERIFY2(sim.Start(&error), error.c_str());
        QtHost host;
        TForm5 dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.ComboBox10->currentText(), QStringLiteral("sim0 (virtual port)"));
        const QImage shot = dialog.grab().toImage();
        SaveShot(shot, "connection-dialog.png");
        QCOMPARE(shot.size(), QSize(423, 204));
        dialog.hide();
        ResetExchangeState();
        ClosePort();
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
