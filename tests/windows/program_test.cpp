// The windows program end to end on a simulated clock line: the windows as
// the program entry creates them, the connection dialog at the first
// activation, the time sent at the connection and on demand and taken by
// the clock, and the end of the program while a failure report waits. Also
// the real executable's start.
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "app/main_window.h"
#include "app/startup_qt.h"
#include "app/time_sync.h"
#include "dialogs/connection_dialog.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/reception.h"
#include "link/request.h"
#include "platform/tick.h"
#include "platform/time_source.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>

using namespace chronavel;

class ProgramTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<sim::Simulator> sim_;

    // Shows the main window; its first activation brings the connection
    // dialog, where sim0 and all clocks are chosen.
    static bool ShowAndConnect(test::ModalScript& script)
    {
        script.Then([](QWidget* modal) {
            if (modal != Form5)
                return false;
            const int entry = Form5->ComboBox10->findText(QStringLiteral("sim0 (virtual port)"));
            if (entry < 0)
                return false;
            Form5->ComboBox10->setCurrentIndex(entry);
            Form5->SpeedButton1->click();
            return true;
        });
        Form1->show();
        return test::WaitUntil([&] { return script.Done() && Connected(); }, 10000) &&
               Form5->isHidden();
    }

    // Closes the main window from the script once a box with the text is up;
    // the time from there is measured.
    static void CloseAtBox(test::ModalScript& script, const QString& text, QElapsedTimer& since)
    {
        script.Then([text, &since](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || box->text() != text)
                return false;
            since.start();
            Form1->close();
            return true;
        });
    }

    // After the close: the window's part (closed, no dialog or box left) is
    // done at once; the exchange thread, one step below normal priority and
    // so slow to be scheduled on a loaded machine, ends within a generous
    // bound (the program itself waits for it at most 0.6 s).
    static void CheckEnded(const bool& closed, const QElapsedTimer& since_close, const char* what)
    {
        QVERIFY(test::WaitUntil([&] { return closed; }, 15000));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        const qint64 window_ms = since_close.elapsed();
        std::shared_ptr<TNewThread> thread = ExchangeThread.Get();
        QVERIFY(thread);
        QVERIFY(test::WaitUntil([&] { return !thread->Running(); }, 5000));
        QVERIFY(FinishExchange(std::chrono::milliseconds(1000)));
        qInfo("%s: window done in %lld ms, exchange thread ended after %lld ms", what, window_ms,
              since_close.elapsed());
        QVERIFY2(window_ms < 1000, qPrintable(QString::number(window_ms)));
    }

private slots:
    void init()
    {
        ResetExchangeState();
        ResetRequestState();
        ResetSettings();
        dir_ = std::make_unique<test::TempDir>("chronavel-program");
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (dir_->path() / "no-sys").c_str(), 1);
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        QApplication::setApplicationName(QStringLiteral("Chronavel"));
        sim::Options o;
        o.name = "sim0";
        o.clocks = {1};
        o.master = 1;
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        QVERIFY2(sim_->Start(&error), error.c_str());
    }
    void cleanup()
    {
        ResetExchangeState();
        ClosePort();
        ResetRequestState();
        ResetSettings();
        platform::SetTimeSource(nullptr);
        sim_.reset();
        dir_.reset();
        unsetenv("CHRONAVEL_PORTS_DIR");
        unsetenv("CHRONAVEL_TTY_CLASS_DIR");
    }

    void connectSynchroniseAndCloseWhileAFailureWaits()
    {
        QtHost host;
        ProgramWindows windows;
        QVERIFY(Form1 && Form5);
        bool closed = false;
        Form1->OnClosed = [&closed] { closed = true; };

        test::ModalScript script;
        QVERIFY(ShowAndConnect(script));
        QCOMPARE(int(Connection.TargetAddress), 0xFF);
        // The connection itself sets the clock, before any period ends.
        QVERIFY(sim_->WaitForFrames(kCmdSetTime, 1, 10000));

        // "Синхронизация времени": the clock takes the PC's time and weekday.
        const std::time_t sent = std::time(nullptr);
        Form1->N9->trigger();
        QVERIFY(sim_->WaitForFrames(kCmdSetTime, 2, 10000));
        const LocalTime now = CurrentLocalTime();
        const sim::ClockTime clock = sim_->Time(1);
        QCOMPARE(clock.day_of_week, int(DayOfWeekByte(now.Year, now.Month, now.Day)));
        QCOMPARE(clock.day, now.Day);
        QCOMPARE(clock.month, now.Month);
        QCOMPARE(clock.year, now.Year % 100);
        const int clock_s = clock.hour * 3600 + clock.minute * 60 + clock.second;
        const int pc_s = now.Hour * 3600 + now.Minute * 60 + now.Second;
        QVERIFY2(std::abs(pc_s - clock_s) <= 2 || std::time(nullptr) - sent > 2,
                 qPrintable(QStringLiteral("clock %1 s, PC %2 s").arg(clock_s).arg(pc_s)));

        // The clock falls silent; the retries run on a fast tick (ten times
        // real time) so the failure report comes within about a second.
        sim::Faults silent;
        silent.silent = true;
        sim_->SetFaults(0xFF, silent);
        class FastTick : public platform::SystemTimeSource {
        public:
            uint32_t Tick() override
            {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start_);
                return static_cast<uint32_t>(1'000'000 + ms.count() * 10);
            }

        private:
            std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
        };
        platform::SetTimeSource(std::make_shared<FastTick>());
        // The window closes while the report waits for its answer.
        QElapsedTimer since_close;
        CloseAtBox(script, QString::fromUtf8(kRetryReadText), since_close);
        Form1->N9->trigger();
        CheckEnded(closed, since_close, "closed while a failure report waited");
        QVERIFY(!PortHandle.Get());
    }

    void closeWhileAPortMessageWaits()
    {
        QtHost host;
        ProgramWindows windows;
        bool closed = false;
        Form1->OnClosed = [&closed] { closed = true; };
        test::ModalScript script;
        QVERIFY(ShowAndConnect(script));
        // The line goes away: the exchange thread's message waits on the
        // window thread while the window closes.
        QElapsedTimer since_close;
        CloseAtBox(script, QStringLiteral("Error reading port"), since_close);
        // The message is shown once per run of failed reads: an earlier
        // test's closing may have had its turn.
        ResetReadErrorNotice();
        sim_->CloseLine();
        CheckEnded(closed, since_close, "closed while a port message waited");
    }

    void executableStartsAndWritesItsSettings()
    {
        const char* bin = std::getenv("CHRONAVEL_TEST_BIN_DIR");
        if (!bin)
            QSKIP("CHRONAVEL_TEST_BIN_DIR not set");
        const QString exe = QString::fromUtf8(bin) + QStringLiteral("/ui/chronavel");
        if (!QFile::exists(exe))
            QSKIP("the program is not built");
        // A copy beside its own settings file, so the build tree stays clean.
        const QString copy = QString::fromStdString((dir_->path() / "chronavel").string());
        QVERIFY(QFile::copy(exe, copy));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(copy, {});
        QVERIFY(p.waitForStarted(5000));
        // Up, waiting in its connection dialog; the settings file written.
        const QString ini = copy + QStringLiteral(".ini");
        QVERIFY(test::WaitUntil([&] { return QFile::exists(ini); }, 10000));
        QTest::qWait(300);
        QCOMPARE(p.state(), QProcess::Running);
        QCOMPARE(QString::fromStdString(test::GetFile(ini.toStdString())),
                 QStringLiteral("[Interface]\nDelayTime=100\n"));
        p.kill();
        p.waitForFinished(5000);
    }
};

QTEST_MAIN(ProgramTest)
#include "program_test.moc"
