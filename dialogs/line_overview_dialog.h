// "Обзор линии": a census of addresses 1..254 taken a probe at a time on a
// worker thread (the window stays in the operator's hands, "Стоп" ends it
// after the probe under way), the clocks that answered in a table, and from
// a chosen row a time setting, a link check or the clock's settings. While
// the window is open the table is kept fresh by the watch's polls. Probes
// give way to the period's time frames, which leave on their second.
#pragma once

#include "app/line_overview.h"
#include "app/master_search.h"

#include <QDialog>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

class TLineOverview : public QDialog {
    Q_OBJECT

public:
    explicit TLineOverview(QWidget* parent = nullptr);
    ~TLineOverview() override;

    QTableWidget* Grid = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* ButtonCensus = nullptr;   // "Обзор" / "Стоп"
    QPushButton* ButtonSync = nullptr;     // "Синхронизировать"
    QPushButton* ButtonCheck = nullptr;    // "Проверка связи"
    QPushButton* ButtonSettings = nullptr; // "Настройки…"
    QLabel* Status = nullptr;

    // Time to the period's next tick, nullopt when no period runs (the main
    // window's Timer2).
    std::function<std::optional<std::chrono::milliseconds>()> UntilTick;
    // Reads the target clock's settings into the settings window (the main
    // window's read, which opens it when the answers are in).
    std::function<void()> ReadTargetSettings;

    bool Running() const { return run_ != nullptr; }
    // Whether the table is being kept fresh (after a census, while open).
    bool Watching() const { return watch_ != nullptr; }
    void Refresh();

    void ButtonCensusClick();
    void ButtonSyncClick();
    void ButtonCheckClick();
    void ButtonSettingsClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Step();
    void StepDone(bool over);
    void Finish(const QString& text);
    void StartWatch();
    void WatchTick();
    int Speed() const;
    std::optional<uint8_t> Chosen() const;
    void UpdateButtons();

    std::unique_ptr<chronavel::CensusRun> run_;
    chronavel::ReplyDelays delays_; // learnt on this line, for the next census
    std::unique_ptr<chronavel::OverviewWatch> watch_;
    QTimer* watch_timer_ = nullptr;
    bool probing_ = false;    // a census step or a poll is on the worker thread
    bool stop_asked_ = false; // "Стоп" or a close while a step was under way
    // Cleared when the window goes, so a probe's late result is dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

extern TLineOverview* FormOverview;
