// The master search window against the simulated line: the master found at
// 1 and at 200, a line with no master, painting between probes, a close in
// the middle, and the whole road from the connection dialog's "Мастер...".
#include "app/core_state.h"
#include "app/ini_file_chronavel.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/find_master_dialog.h"
#include "port/port.h"
#include "port/sync.h"
#include "sim/sim.h"
#include "support/recorder_host.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <memory>
#include <optional>

using namespace chronavel;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class FindMasterDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<sim::Simulator> sim_;

    void StartLine(std::vector<uint8_t> clocks, std::optional<uint8_t> master)
    {
        sim::Options o;
        o.name = "fm0";
        o.clocks = std::move(clocks);
        o.master = master;
        o.seed = 11;
        o.status_interval_ms = 300;
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        QVERIFY2(sim_->Start(&error), error.c_str());
    }
    // The port as "Мастер..." leaves it for the search: open at 9600 Bd.
    void OpenLine()
    {
        Connection.ComSpeed = 9600;
        Connection.ComPort = "fm0";
        PortHandle.Set(OpenPort("fm0", 9600));
        QVERIFY(PortHandle);
    }

private slots:
    void init()
    {
        ResetCoreState();
        ResetSettings();
        dir_ = std::make_unique<test::TempDir>("chronavel-fm");
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (dir_->path() / "no-sys").c_str(), 1);
    }
    void cleanup()
    {
        ClosePort();
        sim_.reset();
        ResetCoreState();
        ResetSettings();
        MasterSearchCaller = nullptr;
        dir_.reset();
    }

    void layout()
    {
        TForm4 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Form4"));
        QCOMPARE(form.size(), QSize(347, 92));
        QVERIFY(form.minimumSize() != form.maximumSize()); // sizeable
        QCOMPARE(form.Button1->text(), QStringLiteral("Поиск мастера....."));
        QCOMPARE(form.Button1->geometry(), QRect(0, 3, 331, 33));
        // The bar lives in the status bar, 320 wide, 0..254.
        QCOMPARE(form.ProgressBar1->parentWidget(), form.StatusBar1);
        QCOMPARE(form.ProgressBar1->pos(), QPoint(0, 2));
        QCOMPARE(form.ProgressBar1->width(), 320);
        QCOMPARE(form.ProgressBar1->maximum(), 254);
        form.ProgressBar1->setValue(40);
        form.show();
        QCOMPARE(form.ProgressBar1->value(), 0); // each showing starts empty
        form.hide();
    }

    void masterFound_data()
    {
        QTest::addColumn<int>("master");
        QTest::addColumn<QString>("entry");
        QTest::newRow("at 1: after the first probe") << 1 << QStringLiteral("$01/1");
        QTest::newRow("at 200") << 200 << QStringLiteral("$C8/200");
    }
    void masterFound()
    {
        QFETCH(int, master);
        QFETCH(QString, entry);
        StartLine({3, static_cast<uint8_t>(master)}, static_cast<uint8_t>(master));
        OpenLine();
        test::RecorderHost host;
        TForm5 dialog;
        MasterSearchCaller = &dialog;
        TForm4 form;
        std::vector<int> probes;
        form.OnProbe = [&](uint8_t a) { probes.push_back(a); };
        form.show();
        form.Button1Click();
        QVERIFY(form.Searching());
        QVERIFY(!form.Button1->isEnabled());
        QVERIFY(test::WaitUntil([&] { return !form.isVisible(); }, 60000));
        QCOMPARE(static_cast<int>(probes.size()), master);
        QCOMPARE(probes.back(), master);
        QCOMPARE(form.ProgressBar1->value(), 254);
        QCOMPARE(static_cast<int>(Connection.TargetAddress), master);
        QCOMPARE(dialog.ComboBox50->currentText(), entry);
        QCOMPARE(dialog.AddressIndex(), master);
        QCOMPARE(dialog.RadioGroup1->ItemIndex(), 1); // "Подключить" keeps the master
        QVERIFY(host.Messages().empty());
    }

    // No master on the line: every address probed, the bar counting up all
    // the way while the window paints, then "Мастер не найден!" and
    // TargetAddress 0.
    void silentLineAndPainting()
    {
        StartLine({1, 2}, std::nullopt);
        OpenLine();
        test::RecorderHost host;
        Connection.TargetAddress = 7;
        TForm4 form;
        PaintCounter counter;
        form.ProgressBar1->installEventFilter(&counter);
        std::vector<int> paints_at_probe, bar_at_probe;
        form.OnProbe = [&](uint8_t) {
            paints_at_probe.push_back(counter.paints);
            bar_at_probe.push_back(form.ProgressBar1->value());
        };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Button1Click();
        QVERIFY(test::WaitUntil([&] { return !form.isVisible(); }, 60000));
        QCOMPARE(static_cast<int>(paints_at_probe.size()), 254);
        for (int i = 0; i < 254; ++i)
            QCOMPARE(bar_at_probe[static_cast<size_t>(i)], i + 1);
        // A paint between probes, not only at the end.
        int painted_between = 0;
        for (size_t i = 1; i < paints_at_probe.size(); ++i)
            painted_between += paints_at_probe[i] > paints_at_probe[i - 1] ? 1 : 0;
        QVERIFY2(painted_between > 100, qPrintable(QString::number(painted_between)));
        QCOMPARE(host.Messages(), std::vector<std::string>{"Мастер не найден!"});
        QCOMPARE(static_cast<int>(Connection.TargetAddress), 0);
    }

    // Closing the window ends the search before its next probe and leaves
    // the target as it was.
    void closeEndsTheSearch()
    {
        StartLine({1}, std::nullopt);
        OpenLine();
        test::RecorderHost host;
        Connection.TargetAddress = 0x42;
        TForm4 form;
        int probes = 0;
        form.OnProbe = [&](uint8_t a) {
            ++probes;
            if (a == 5)
                QTimer::singleShot(0, &form, &QWidget::close);
        };
        form.show();
        form.Button1Click();
        QVERIFY(test::WaitUntil([&] { return !form.isVisible(); }, 20000));
        QTest::qWait(200);
        QCOMPARE(probes, 5);
        QVERIFY(!form.Searching());
        QVERIFY(form.Button1->isEnabled());
        QCOMPARE(static_cast<int>(Connection.TargetAddress), 0x42);
        QVERIFY(host.Messages().empty());
        QCOMPARE(sim_->FramesReceived(0x74), 5u);
    }

    // "Мастер..." opens the chosen port at 9600 Bd, the search finds the
    // master, and the port is closed again afterwards.
    void fromTheConnectionDialog()
    {
        StartLine({1, 4}, 4);
        test::RecorderHost host;
        Connection.ComSpeed = 115200;
        TForm4 form;
        TForm5 dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.ComboBox10->currentText(), QStringLiteral("fm0 (virtual port)"));
        test::ModalScript script;
        bool searched = false;
        bool port_open = false;
        script.Then([&](QWidget* modal) {
            if (modal != &form)
                return false;
            port_open = PortHandle.Get() != nullptr;
            form.Button1->click();
            searched = true;
            return true;
        });
        dialog.Button3Click();
        QVERIFY(searched);
        QVERIFY(port_open);
        QCOMPARE(MasterSearchCaller, &dialog);
        QCOMPARE(static_cast<int>(Connection.TargetAddress), 4);
        QCOMPARE(dialog.ComboBox50->currentText(), QStringLiteral("$04/4"));
        QCOMPARE(Connection.ComSpeed, 9600);
        QCOMPARE(Connection.ComPort, std::string("fm0"));
        QVERIFY(!PortHandle); // closed after the search
        QVERIFY(host.Messages().empty());
        dialog.hide();
    }
};

QTEST_MAIN(FindMasterDialogTest)
#include "find_master_dialog_test.moc"
