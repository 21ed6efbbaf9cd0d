// The master search: the bus addresses 1..254 probed one by one for the
// clock that is the time master, with the progress in a bar. A probe at a
// time runs from the event loop, so the window keeps painting; closing the
// window ends the search before its next probe.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TForm5;

namespace chronavel {
class MasterSearchRun;
}

class TForm4 : public QDialog {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    QPushButton* Button1 = nullptr; // "Поиск мастера....."
    QStatusBar* StatusBar1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr; // inside the status bar
    QLabel* Label1 = nullptr;             // empty, no role

    void FormCreate();
    void FormActivate();
    void Button1Click();

    bool Searching() const { return run_ != nullptr; }
    // Called just before each probe with the address about to be probed.
    std::function<void(uint8_t candidate)> OnProbe;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

private:
    void SearchStep();
    void FinishSearch();
    void DropSearch();
    void PlaceStatusBar();

    std::unique_ptr<chronavel::MasterSearchRun> run_;
};

extern TForm4* Form4;

// The connection dialog that opened the search ("Мастер..." remembers it);
// the master's entry is selected in its address list.
extern TForm5* MasterSearchCaller;
