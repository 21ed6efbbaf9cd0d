// The sent-data log: its window, the lines of a synchronisation against the
// simulated clock, clear and copy, and the cap under a long run with the
// window thread busy elsewhere.
#include "app/core_state.h"
#include "app/main_logic.h"
#include "dialogs/sent_log_window.h"
#include "link/exchange.h"
#include "link/frame_trace.h"
#include "link/frames.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/recorder_host.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <memory>
#include <thread>

using namespace chronavel;

class SentLogWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;

    // Traces n sent frames from another thread; frame i carries i in its
    // parameter bytes.
    static void TraceFrames(int first, int n)
    {
        std::thread t([first, n] {
            for (int i = first; i < first + n; ++i) {
                const auto f = BuildShortFrame(1, kCmdReadRegister, static_cast<uint8_t>(i >> 8),
                                               static_cast<uint8_t>(i & 0xFF));
                TraceFrame(FrameDirection::Sent, 1, kCmdReadRegister, f.data(), f.size());
            }
        });
        t.join(); // the window thread does nothing meanwhile
    }
    static QString FrameTail(int i)
    {
        const auto f = BuildShortFrame(1, kCmdReadRegister, static_cast<uint8_t>(i >> 8),
                                       static_cast<uint8_t>(i & 0xFF));
        QString s;
        for (uint8_t b : f)
            s += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        return QStringLiteral(" TX addr $01 cmd $74:") + s;
    }

private slots:
    void init()
    {
        ResetCoreState();
        dir_ = std::make_unique<test::TempDir>("chronavel-log");
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
    }
    void cleanup()
    {
        ResetCoreState();
        ClosePort();
        dir_.reset();
    }

    void layout()
    {
        TForm2 log;
        QCOMPARE(log.windowTitle(), QStringLiteral("Отправленные данные...."));
        QCOMPARE(log.size(), QSize(1010, 181));
        QCOMPARE(log.minimumSize(), log.maximumSize());
        const Qt::WindowFlags f = log.windowFlags();
        QVERIFY(f.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(log.RichEdit1->geometry(), QRect(0, 0, 1010, 181));
        QCOMPARE(log.RichEdit1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(log.RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(log.RichEdit1->contextMenuPolicy(), Qt::CustomContextMenu);
        const QList<QAction*> items = log.PopupMenu1->actions();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0]->text(), QStringLiteral("Очистить все"));
        QCOMPARE(items[1]->text(), QStringLiteral("Скопировать все в буфер обмена"));
        // Nobody listens while the log is hidden and not capturing.
        QVERIFY(!log.Listening());
        QVERIFY(!FrameTraceOn());
        log.show();
        QVERIFY(log.Listening());
        log.hide();
        QVERIFY(!FrameTraceOn());
        log.SetCapture(true);
        QVERIFY(FrameTraceOn());
        log.SetCapture(false);
        QVERIFY(!FrameTraceOn());
    }

    // A synchronisation: the 0x70 frame written and the clock's reply, with
    // the bytes the clock saw.
    void synchronisationLines()
    {
        sim::Options o;
        o.name = "log0";
        o.clocks = {1};
        o.seed = 5;
        sim::Simulator sim(o);
        std::string error;
        QVERIFY2(sim.Start(&error), error.c_str());
        test::RecorderHost host;
        PortHandle.Set(OpenPort("log0", 9600));
        QVERIFY(PortHandle);
        StartExchangeThread();
        TForm2 log;
        log.show();
        QCOMPARE(SyncTime(1), SyncOutcome::kQueued);
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() >= 2; }, 10000));
        const QStringList lines = log.Lines();
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression kTx(QStringLiteral(
            R"(^\d\d:\d\d:\d\d\.\d\d\d TX addr \$01 cmd \$70: 00 00 E0 00 01 70 00 07 )"
            R"(([0-9A-F]{2} ){9}[0-9A-F]{2}$)"));
        QVERIFY2(kTx.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        // The frame is whole: its own check bytes agree with its data.
        const QStringList hex =
            lines[0].section(QLatin1Char(':'), 3).trimmed().split(QLatin1Char(' '));
        std::vector<uint8_t> data;
        for (int i = 10; i < 17; ++i)
            data.push_back(static_cast<uint8_t>(hex[i].toInt(nullptr, 16)));
        QString rebuilt;
        for (uint8_t b : BuildDataFrame(1, kCmdSetTime, 0, 7, data.data()))
            rebuilt += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        QCOMPARE(hex.join(QLatin1Char(' ')) + QLatin1Char(' '), rebuilt);
        QVERIFY2(lines[1].endsWith(QStringLiteral(" RX addr $01 cmd $70: E0 01 00 70 00 07 59 58")),
                 qPrintable(lines[1]));
        QCOMPARE(sim.FramesReceived(kCmdSetTime), 1u);
        log.hide();
        StopExchangeThread(std::chrono::milliseconds(3000));
    }

    void clearAndCopy()
    {
        TForm2 log;
        log.show();
        TraceFrames(0, 40);
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() == 40; }, 5000));
        log.RichEdit1->verticalScrollBar()->setValue(0);
        log.RichEdit1->moveCursor(QTextCursor::Start);
        log.N2->trigger();
        const QString all = log.Lines().join(QLatin1Char('\n'));
        QCOMPARE(QGuiApplication::clipboard()->text(), all);
        QVERIFY(log.Lines()[39].endsWith(FrameTail(39)));
        // Everything stays selected.
        QCOMPARE(log.RichEdit1->textCursor().selectedText().size(), all.size());
        // Clear: empty, and lines traced before it but not shown yet go too.
        log.Timer1->stop();
        TraceFrames(100, 3);
        log.N1->trigger();
        QTest::qWait(50);
        QVERIFY(log.Lines().isEmpty());
        TraceFrames(200, 1);
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() == 1; }, 5000));
        QVERIFY(log.Lines()[0].endsWith(FrameTail(200)));
    }

    // 12,000 frames traced while the window thread is busy: the tracing
    // thread never waits for the window, and the log keeps the newest 5,000.
    void capHoldsUnderALongRun()
    {
        TForm2 log;
        log.show();
        TraceFrames(0, 1000);
        QVERIFY(test::WaitUntil([&] { return log.Lines().size() == 1000; }, 5000));
        TraceFrames(1000, 11000);
        QVERIFY(
            test::WaitUntil([&] { return log.Lines().last().endsWith(FrameTail(11999)); }, 10000));
        const QStringList lines = log.Lines();
        QCOMPARE(lines.size(), TForm2::kMaxLines);
        QVERIFY(lines.first().endsWith(FrameTail(7000)));
        QVERIFY(lines.last().endsWith(FrameTail(11999)));
    }
};

QTEST_MAIN(SentLogWindowTest)
#include "sent_log_window_test.moc"
