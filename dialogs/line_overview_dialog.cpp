#include "dialogs/line_overview_dialog.h"

#include "app/ini_file_chronavel.h"
#include "app/line_overview.h"
#include "app/main_logic.h"
#include "app/master_search.h"
#include "app/service_commands.h"
#include "config/busy_qt.h"
#include "link/host.h"
#include "link/request.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

using namespace chronavel;

TLineOverview* FormOverview = nullptr;

namespace {

// How often a census held back for a time frame looks again.
constexpr int kPaceRetryMs = 20;
// How often the watch looks for a poll that has fallen due.
constexpr int kWatchTickMs = 200;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QString AddrText(uint8_t addr)
{
    return Q(OverviewRowTexts(OverviewRow{addr, 0, false, std::nullopt, false, false})[0]);
}

} // namespace

TLineOverview::TLineOverview(QWidget* parent) : QDialog(parent)
{
    FormOverview = this;
    setObjectName(QStringLiteral("FormOverview"));
    setWindowTitle(QStringLiteral("Обзор линии"));
    resize(560, 400);

    Grid = new QTableWidget(0, static_cast<int>(std::size(kOverviewColumns)), this);
    Grid->setObjectName(QStringLiteral("Grid"));
    QStringList headers;
    for (const char* c : kOverviewColumns)
        headers << QString::fromUtf8(c);
    Grid->setHorizontalHeaderLabels(headers);
    Grid->verticalHeader()->setVisible(false);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->horizontalHeader()->setStretchLastSection(true);
    Grid->setGeometry(8, 8, 544, 290);
    for (int c = 0; c < 4; ++c)
        Grid->setColumnWidth(c, c == 3 ? 180 : 80);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, kLastSearchAddress);
    ProgressBar1->setValue(0);
    ProgressBar1->setGeometry(8, 306, 420, 22);
    ButtonCensus = new QPushButton(QStringLiteral("Обзор"), this);
    ButtonCensus->setObjectName(QStringLiteral("ButtonCensus"));
    ButtonCensus->setGeometry(436, 304, 116, 25);

    ButtonSync = new QPushButton(QStringLiteral("Синхронизировать"), this);
    ButtonSync->setObjectName(QStringLiteral("ButtonSync"));
    ButtonSync->setGeometry(8, 336, 170, 25);
    ButtonCheck = new QPushButton(QStringLiteral("Проверка связи"), this);
    ButtonCheck->setObjectName(QStringLiteral("ButtonCheck"));
    ButtonCheck->setGeometry(186, 336, 170, 25);
    ButtonSettings = new QPushButton(QStringLiteral("Настройки…"), this);
    ButtonSettings->setObjectName(QStringLiteral("ButtonSettings"));
    ButtonSettings->setGeometry(364, 336, 188, 25);
    for (QPushButton* b : {ButtonCensus, ButtonSync, ButtonCheck, ButtonSettings})
        b->setAutoDefault(false);

    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setGeometry(8, 368, 544, 24);

    connect(ButtonCensus, &QPushButton::clicked, this, &TLineOverview::ButtonCensusClick);
    connect(ButtonSync, &QPushButton::clicked, this, &TLineOverview::ButtonSyncClick);
    connect(ButtonCheck, &QPushButton::clicked, this, &TLineOverview::ButtonCheckClick);
    connect(ButtonSettings, &QPushButton::clicked, this, &TLineOverview::ButtonSettingsClick);
    connect(Grid, &QTableWidget::itemSelectionChanged, this, &TLineOverview::UpdateButtons);
    watch_timer_ = new QTimer(this);
    watch_timer_->setInterval(kWatchTickMs);
    connect(watch_timer_, &QTimer::timeout, this, &TLineOverview::WatchTick);
    Refresh();
}

TLineOverview::~TLineOverview()
{
    // A probe under way holds a pointer to the census: let it end first.
    *alive_ = false;
    if (probing_)
        WaitForBlockingWork();
    run_.reset();
    if (FormOverview == this)
        FormOverview = nullptr;
}

void TLineOverview::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Refresh(); // a link check or a settings read in the main window meanwhile
    if (!run_ && Overview().Rows().size() > 0)
        StartWatch();
}

void TLineOverview::closeEvent(QCloseEvent* event)
{
    // What was found stays for the run; a census in progress ends here, and
    // the watch until the window is opened again.
    if (run_)
        Finish(QStringLiteral("Обзор прерван"));
    watch_timer_->stop();
    watch_.reset();
    QDialog::closeEvent(event);
}

int TLineOverview::Speed() const
{
    return Connection.ComSpeed > 0 ? Connection.ComSpeed : 9600;
}

void TLineOverview::Refresh()
{
    const std::optional<uint8_t> chosen = Chosen();
    const auto rows = Overview().Rows();
    Grid->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const auto texts = OverviewRowTexts(rows[static_cast<size_t>(r)]);
        for (int c = 0; c < static_cast<int>(texts.size()); ++c) {
            QTableWidgetItem* item = Grid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                Grid->setItem(r, c, item);
            }
            item->setText(Q(texts[static_cast<size_t>(c)]));
        }
        if (chosen && rows[static_cast<size_t>(r)].Addr == *chosen)
            Grid->selectRow(r);
    }
    UpdateButtons();
}

std::optional<uint8_t> TLineOverview::Chosen() const
{
    const auto selected = Grid->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return std::nullopt;
    return SettingsTargetOf(Overview().Rows(), selected.front().row());
}

void TLineOverview::UpdateButtons()
{
    const bool row = Chosen().has_value();
    ButtonSync->setEnabled(row);
    ButtonCheck->setEnabled(row && !run_);
    ButtonSettings->setEnabled(row && !run_);
}

void TLineOverview::ButtonCensusClick()
{
    if (run_) {
        Finish(QStringLiteral("Обзор прерван"));
        return;
    }
    if (probing_)
        WaitForBlockingWork(); // the watch's poll under way: a moment
    if (!Connected()) {
        Status->setText(QString::fromUtf8(kNoConnectionMessage));
        return;
    }
    // Clocks that answered earlier in the run are asked twice before they
    // are called silent.
    std::vector<uint8_t> expected;
    for (const auto& row : Overview().Rows())
        expected.push_back(row.Addr);
    watch_timer_->stop();
    watch_.reset();
    run_ = std::make_unique<CensusRun>(Speed(), expected, delays_);
    ProgressBar1->setValue(0);
    ButtonCensus->setText(QStringLiteral("Стоп"));
    Status->setText(QStringLiteral("Обзор линии…"));
    UpdateButtons();
    QTimer::singleShot(0, this, &TLineOverview::Step);
}

void TLineOverview::Step()
{
    if (!run_ || probing_)
        return; // stopped or closed meanwhile
    // A time frame due while the next probe could hold the port goes first.
    const auto until = UntilTick ? UntilTick() : std::nullopt;
    if (!CensusMayProbe(until, run_->StepBound(), !QueuesIdle())) {
        QTimer::singleShot(kPaceRetryMs, this, &TLineOverview::Step);
        return;
    }
    probing_ = true;
    auto over = std::make_shared<bool>(false);
    CensusRun* run = run_.get();
    RunInBackground(
        this, [run, over] { *over = run->Step(); },
        [this, over, alive = alive_] {
            if (*alive)
                StepDone(*over);
        });
}

void TLineOverview::StepDone(bool over)
{
    probing_ = false;
    if (stop_asked_) {
        stop_asked_ = false;
        Finish(QStringLiteral("Обзор прерван"));
        return;
    }
    const CensusStep& step = run_->Last();
    const uint8_t addr = step.Addr;
    Overview().Probed(addr, step.Answered, step.Master, std::chrono::system_clock::now());
    const auto& found = run_->Found();
    if (!step.Again) // the second askings at the end go back over the line
        ProgressBar1->setValue(std::min<int>(addr, kLastSearchAddress));
    if (step.Answered)
        Refresh();
    if (over) {
        const bool lost = run_->PortLost();
        const size_t count = found.size();
        const auto master =
            std::find_if(found.begin(), found.end(), [](const CensusEntry& e) { return e.Master; });
        QString text = lost ? QStringLiteral("Порт потерян: обзор остановлен")
                            : QStringLiteral("Отвечают часов: %1").arg(count);
        if (!lost && master != found.end())
            text += QStringLiteral(", мастер %1").arg(AddrText(master->Addr));
        ProgressBar1->setValue(kLastSearchAddress);
        Finish(text);
        if (!lost && isVisible())
            StartWatch();
    } else {
        QTimer::singleShot(0, this, &TLineOverview::Step);
    }
}

void TLineOverview::Finish(const QString& text)
{
    if (probing_) {
        // The step under way ends first; its result is not waited for here.
        stop_asked_ = true;
        ButtonCensus->setText(QStringLiteral("Обзор"));
        return;
    }
    delays_ = run_->Delays();
    run_.reset();
    ButtonCensus->setText(QStringLiteral("Обзор"));
    Status->setText(text);
    Refresh();
}

void TLineOverview::StartWatch()
{
    watch_ = std::make_unique<OverviewWatch>(Speed(), Overview(), std::chrono::steady_clock::now());
    watch_timer_->start();
}

void TLineOverview::WatchTick()
{
    // Not beside a census, another probe, or the operator's own wait (a
    // link check or settings read holds the port anyway).
    if (!watch_ || run_ || probing_ || !isVisible() || WindowThreadBusy() || !Connected())
        return;
    const auto until = UntilTick ? UntilTick() : std::nullopt;
    const std::optional<WatchProbe> probe =
        watch_->Next(std::chrono::steady_clock::now(), until, !QueuesIdle());
    if (!probe)
        return;
    probing_ = true;
    struct Outcome {
        ClockProbe Got;
        std::vector<uint8_t> Heard; // worker thread until done
    };
    auto out = std::make_shared<Outcome>();
    const int speed = Speed();
    const bool patient = watch_->Patient(*probe);
    RunInBackground(
        this,
        [out, addr = probe->Addr, speed, patient] {
            out->Got = ProbeClock(addr, speed, patient,
                                  [&out](const ReplyHeader& h) { out->Heard.push_back(h.Addr); });
        },
        [this, out, probe = *probe, alive = alive_] {
            if (!*alive)
                return;
            probing_ = false;
            if (!watch_)
                return; // closed, or a census began, meanwhile
            if (out->Got.PortLost) {
                watch_timer_->stop();
                watch_.reset();
                Status->setText(QStringLiteral("Порт потерян: наблюдение остановлено"));
                return;
            }
            const auto events =
                watch_->Result(Overview(), probe, out->Got.Answered, out->Got.Master, out->Heard,
                               std::chrono::system_clock::now(), std::chrono::steady_clock::now());
            for (const WatchEvent& e : events) {
                if (e.Change == WatchChange::kSilent)
                    Status->setText(QStringLiteral("Часы %1 не отвечают").arg(AddrText(e.Addr)));
                else if (e.Change == WatchChange::kBack || e.Change == WatchChange::kNew)
                    Status->setText(QStringLiteral("Часы %1 отвечают").arg(AddrText(e.Addr)));
            }
            if (out->Got.Answered || !events.empty())
                Refresh();
        });
}

void TLineOverview::ButtonSyncClick()
{
    const auto addr = Chosen();
    if (!addr)
        return;
    const std::string why = SyncOutcomeText(SyncTime(*addr));
    Status->setText(why.empty() ? QStringLiteral("Время отправлено часам %1").arg(AddrText(*addr))
                                : Q(why));
}

void TLineOverview::ButtonCheckClick()
{
    const auto addr = Chosen();
    if (!addr || run_)
        return;
    if (!Connected()) {
        Status->setText(QString::fromUtf8(kNoConnectionMessage));
        return;
    }
    bool up = false;
    const uint8_t target = *addr;
    RunOffWindowThread([&up, target] { up = LinkCheck(target); });
    Overview().Checked(target, up, std::chrono::system_clock::now());
    Status->setText(up ? QStringLiteral("Часы %1 отвечают").arg(AddrText(target))
                       : QStringLiteral("Часы %1 не отвечают").arg(AddrText(target)));
    Refresh();
}

void TLineOverview::ButtonSettingsClick()
{
    const auto addr = Chosen();
    if (!addr || run_)
        return;
    Connection.TargetAddress = *addr;
    Status->setText(QStringLiteral("Чтение настроек часов %1…").arg(AddrText(*addr)));
    if (ReadTargetSettings)
        ReadTargetSettings();
}
