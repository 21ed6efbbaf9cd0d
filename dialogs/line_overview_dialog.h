// "Обзор линии": a census of addresses 1..254 taken a probe at a time from
// the event loop (the window keeps painting, "Стоп" ends it before the next
// probe), the clocks that answered in a table, and from a chosen row a
// time setting, a link check or the clock's settings. The census gives way
// to the period's time frames, which leave on their second.
#pragma once

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
    void Finish(const QString& text);
    std::optional<uint8_t> Chosen() const;
    void UpdateButtons();

    std::unique_ptr<chronavel::CensusRun> run_;
    chronavel::ReplyDelays delays_; // learnt on this line, for the next census
};

extern TLineOverview* FormOverview;
