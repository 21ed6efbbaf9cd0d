// The main window: the PC's time and date in large red digits, the main
// menu, the status bar, the synchronisation timers, the failure dialogs,
// and the hidden emulated clock display and service controls.
#pragma once

#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "app/time_events.h"
#include "link/request.h"
#include "port/display.h"

#include <QImage>
#include <QMainWindow>
#include <QStatusBar>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTimer;

namespace chronavel {
class TServiceMode;
}

// The owner-drawn grid of the emulated additional fields: 2 columns by 7
// rows of 40 pixels, drawn only through its canvas.
class TDrawGrid : public QWidget {
    Q_OBJECT

public:
    explicit TDrawGrid(QWidget* parent);

    static constexpr int ColCount = 2;
    static constexpr int RowCount = 7;
    static constexpr int DefaultRowHeight = 40;

    QImage& Canvas() { return canvas_; }
    // Fills the canvas with the brush colour (the grid holds no border of
    // another colour, so a flood fill from (1, 1) reaches all of it).
    void FloodFillCanvas();
    QRect CellRect(int col, int row) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage canvas_;
};

// The status bar with its two panels (100 and 50 pixels).
class TStatusBar : public QStatusBar {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent);
    QString PanelText(int i) const;
    void SetPanelText(int i, const QString& text);
    QLabel* Panels[2] = {nullptr, nullptr};
};

class TForm1 : public QMainWindow, public chronavel::PeriodMenu, public chronavel::ReconnectUi {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // --- Components, by their designer names.
    QLabel* Label1 = nullptr; // the time
    QLabel* Label2 = nullptr; // hidden, no role
    QLabel* Label3 = nullptr; // hidden heading "Основное поле"
    QLabel* Label4 = nullptr; // the date
    QLabel* Label5 = nullptr; // hidden heading "Дополнительные поля"
    QLabel* Label6 = nullptr; // "Время"
    QLabel* Label7 = nullptr; // "Дата"
    QLabel* Label8 = nullptr; // hidden emulated main field
    // Service mode only: whether the PC clock the clocks are set from is
    // itself synchronised, refreshed with the display.
    QLabel* LabelTimeSource = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr; // the display, on the second boundary
    QTimer* Timer2 = nullptr; // the synchronisation period
    QTimer* Timer3 = nullptr; // 10 ms, the end of the settings read
    QMenuBar* MainMenu1 = nullptr;
    // Menu items; a submenu's item is its menu action (N1->menu()).
    QAction *N1 = nullptr, *N2 = nullptr, *N3 = nullptr, *N4 = nullptr, *N5 = nullptr;
    QAction *N6 = nullptr, *N7 = nullptr, *N8 = nullptr, *N9 = nullptr, *N10 = nullptr;
    QAction *N11 = nullptr, *N12 = nullptr, *N13 = nullptr, *N14 = nullptr, *N15 = nullptr;
    QAction *N16 = nullptr, *N17 = nullptr, *N18 = nullptr, *N19 = nullptr, *N20 = nullptr;
    TDrawGrid* DrawGrid1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;
    QPushButton *Button4 = nullptr, *Button5 = nullptr, *Button6 = nullptr;
    // Ctrl+Shift+S: the hidden facilities for a technician (never stored).
    chronavel::TServiceMode* ServiceMode = nullptr;

    // Seconds between automatic synchronisations; 0: none.
    int32_t SyncPeriod = 0;
    // The additional-field rows DrawGrid1DrawCell draws, as last shown.
    chronavel::FieldRows FieldTable{};
    // What Show_err_read's box was answered (kept, read by nothing).
    bool ErrReadAnswer = false;

    // --- Handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Timer1Timer();
    void Timer2Timer();
    void N15Click(QObject* Sender);
    void N9Click();
    void N2Click();
    void N13Click();
    // The service commands (app/service_commands_qt.cpp).
    void N5Click();
    void N7Click();
    void N8Click();
    void N10Click();
    void N11Click();
    void N12Click();
    void N20Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void ReadAllSettings();
    void Timer3Timer();
    void ShowLineOverview(); // "Обзор линии"
    chronavel::SyncOutcome Sinkhr_date();
    void DrawGrid1DrawCell(QObject* Sender, int ACol, int ARow, const QRect& Rect, int State);
    void Update_memo();
    void Show_err_read();
    // WM_REQUEST_FAILED: runs while the reporting exchange thread waits.
    void WMRequestFailed(std::unique_ptr<chronavel::FailureBlock> block);

    // The period entry for "Period_sinhr" index 0..4 (N14..N18).
    QAction* PeriodEntry(int index) const;

    // Run once this window has closed; the program entry ends the event
    // loop with it.
    std::function<void()> OnClosed;

    // PeriodMenu: the settings file's view of the period entries.
    bool Checked(int index) const override;
    void SetChecked(int index, bool checked) override;
    void N15Click(int sender) override;

    // ReconnectUi: what the failure handler's reconnect path needs.
    bool Closing() const override;
    void ClearN7() override;
    void StopTimer3() override;
    void ShowConnectionDialog() override;
    void WaitForPortWork() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildMenu();
    void BuildDisplay(QWidget* client);
    void BuildHidden(QWidget* client);
    void ConnectServiceCommands();
    void ArmTimer1();
    void ShowClockDisplay(const std::string& shown, const chronavel::FieldRows& table, int rows);

    bool activated_ = false;
    bool closing_ = false;
    // Steps of the PC's clock, summer time and the like, looked for at every
    // display tick; the last extra synchronisation they brought, for the
    // service mode's time-source line.
    chronavel::TimeEventWatch time_events_;
    std::string last_extra_sync_;
};

extern TForm1* Form1;
