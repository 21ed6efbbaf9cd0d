// The sent-data log: the frames written to the clocks and the replies
// accepted from them, one line each, the newest 5,000 kept. It listens to the
// frame trace while it is shown or while the service mode asks it to.
#pragma once

#include <QDialog>
#include <memory>

class QAction;
class QMenu;
class QPlainTextEdit;
class QTimer;

namespace chronavel {
class FrameLineQueue;
}

class TForm2 : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxLines = 5000;

    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    QPlainTextEdit* RichEdit1 = nullptr; // the log, both scroll bars
    QMenu* PopupMenu1 = nullptr;
    QAction* N1 = nullptr; // "Очистить все"
    QAction* N2 = nullptr; // "Скопировать все в буфер обмена"
    // Paces the log: lines that arrive together are shown together, at most
    // every 10 ms.
    QTimer* Timer1 = nullptr;

    void FormCreate();
    void N1Click();
    void N2Click();

    // Listens to the frame trace while on, shown or not (the service mode).
    void SetCapture(bool on);
    bool Listening() const { return observer_ != 0; }
    // The log's lines, oldest first.
    QStringList Lines() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateListening();
    void WakeFromTrace();
    void ShowQueuedLines();

    std::shared_ptr<chronavel::FrameLineQueue> queue_;
    int observer_ = 0;
    bool capture_ = false;
};

extern TForm2* Form2;
