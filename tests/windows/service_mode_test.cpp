// The service mode: Ctrl+Shift+S on the main window shows the hidden
// facilities and switches back to exactly the standard layout.
#include "app/core_state.h"
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_window.h"
#include "app/service_mode_qt.h"
#include "app/time_source.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/sent_log_window.h"
#include "link/frame_trace.h"
#include "support/temp_dir.h"
#include "testkit/fake_time.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <map>
#include <memory>

using namespace chronavel;

namespace {

// Whether each named component would be seen: a menu item when it and every
// menu above it is visible, a widget when it is not hidden.
std::map<QString, bool> Seen(TForm1& form)
{
    std::map<QString, bool> seen;
    std::function<void(QMenu*, bool)> walk = [&](QMenu* menu, bool shown) {
        for (QAction* a : menu->actions()) {
            const bool v = shown && a->isVisible();
            seen[a->objectName()] = v;
            if (a->menu())
                walk(a->menu(), v);
        }
    };
    for (QAction* a : form.MainMenu1->actions()) {
        seen[a->objectName()] = a->isVisible();
        walk(a->menu(), a->isVisible());
    }
    for (QWidget* w :
         {static_cast<QWidget*>(form.Label3), static_cast<QWidget*>(form.Label8),
          static_cast<QWidget*>(form.Label5), static_cast<QWidget*>(form.DrawGrid1),
          static_cast<QWidget*>(form.Edit2), static_cast<QWidget*>(form.Button1),
          static_cast<QWidget*>(form.Button2), static_cast<QWidget*>(form.Button3),
          static_cast<QWidget*>(form.Button4), static_cast<QWidget*>(form.Button5),
          static_cast<QWidget*>(form.Button6), static_cast<QWidget*>(form.LabelTimeSource)})
        seen[w->objectName()] = w->isVisible();
    return seen;
}

} // namespace

class ServiceModeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;

private slots:
    void init()
    {
        ResetCoreState();
        dir_ = std::make_unique<test::TempDir>("chronavel-service");
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        setenv("CHRONAVEL_PORTS_DIR", (dir_->path() / "ports").c_str(), 1);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (dir_->path() / "no-sys").c_str(), 1);
    }
    void cleanup()
    {
        ResetCoreState();
        dir_.reset();
    }

    void switchesOnAndBackExactly()
    {
        QtHost host;
        TForm1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::qWait(20); // the first activation has passed (no dialog yet)
        TForm5 dialog;
        TForm2 log;

        // The standard layout: exactly the visible items of the menu, no
        // service controls, the standard sizes.
        const auto standard = Seen(form);
        std::vector<QString> visible;
        for (const auto& [name, v] : standard)
            if (v)
                visible.push_back(name);
        QCOMPARE(visible, (std::vector<QString>{"N1", "N13", "N14", "N15", "N16", "N17", "N18",
                                                "N19", "N2", "N20", "N3", "N4", "N9"}));
        // Far to the right, so the grown window would reach past the screen.
        form.move(form.screen()->availableGeometry().right() - form.width() - 10, 20);
        const QPoint form_pos = form.pos();
        const QSize form_size = form.size();
        const QSize client_size = form.centralWidget()->size();
        const QRect button6 = form.Button6->geometry();
        QVERIFY(dialog.GroupBox2->isHidden());
        QCOMPARE(dialog.size(), QSize(423, 204));
        QVERIFY(!FrameTraceOn());

        QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(form.ServiceMode->On());
        const auto service = Seen(form);
        for (const auto& [name, v] : service)
            QVERIFY2(v, qPrintable(name)); // every item and service control
        QCOMPARE(service.size(), standard.size() + 2);
        QVERIFY(form.ServiceMode->LogItem);
        QCOMPARE(form.N4->menu()->actions().last(), form.ServiceMode->LogItem);
        QCOMPARE(form.ServiceMode->OverviewItem->text(), QStringLiteral("Обзор линии"));
        QCOMPARE(form.ServiceMode->LogItem->text(), QStringLiteral("Отправленные данные...."));
        QCOMPARE(form.size(), form_size + QSize(484, 231));
        // Inside the screen's available area, moved back from where it stood.
        const QRect area = form.screen()->availableGeometry();
        QVERIFY2(area.contains(form.frameGeometry()) || form.x() == area.x(),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(form.x())
                                .arg(form.y())
                                .arg(form.width())
                                .arg(form.height())));
        QCOMPARE(form.centralWidget()->size(), QSize(968, 492));
        // The emulated display in the new right half, the buttons in a row.
        QCOMPARE(form.DrawGrid1->pos(), QPoint(484, 164));
        // The PC clock's state beside the display, refreshed with it.
        const platform::ClockSync lost{platform::ClockSyncState::kUnsynchronised, 16000000};
        {
            test::FakeTime time;
            time.SetSync(lost);
            form.Timer1Timer();
            QCOMPARE(form.LabelTimeSource->text(), QString::fromStdString(TimeSourceText(lost)));
            // With the last extra synchronisation beside it, the line wraps
            // inside the label rather than being cut off.
            form.LabelTimeSource->setText(
                QString::fromStdString(TimeSourceText(lost)) +
                QStringLiteral(". Внеочередная синхронизация в 03:00:01: переход на летнее время"));
            QLabel* const label = form.LabelTimeSource;
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(0, 0, label->width(), 1000), Qt::TextWordWrap, label->text());
            QVERIFY(label->wordWrap());
            QVERIFY(needed.height() <= label->height());
            QVERIFY(label->geometry().bottom() < form.Button1->geometry().top());
        }
        QVERIFY(form.centralWidget()->rect().contains(form.Button6->geometry()));
        QVERIFY(!dialog.GroupBox2->isHidden());
        QVERIFY(dialog.rect().contains(dialog.GroupBox2->geometry()));
        QCOMPARE(dialog.size(), QSize(423, 268));
        QVERIFY(log.Listening()); // the log collects from now on

        form.ServiceMode->LogItem->trigger();
        QVERIFY(log.isVisible());
        QVERIFY(!log.isModal());

        QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!form.ServiceMode->On());
        QCOMPARE(Seen(form), standard);
        QVERIFY(!form.ServiceMode->LogItem && !form.ServiceMode->OverviewItem);
        QCOMPARE(form.size(), form_size);
        QCOMPARE(form.pos(), form_pos);
        QCOMPARE(form.centralWidget()->size(), client_size);
        QCOMPARE(form.Button6->geometry(), button6);
        QVERIFY(dialog.GroupBox2->isHidden());
        QCOMPARE(dialog.size(), QSize(423, 204));
        QVERIFY(!log.isVisible());
        QVERIFY(!FrameTraceOn());
        form.hide();
    }
};

QTEST_MAIN(ServiceModeTest)
#include "service_mode_test.moc"
