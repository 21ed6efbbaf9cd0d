// Drives the modal windows a test opens: each step waits for the active
// modal window it is meant for and acts on it (fills a dialog, answers a
// message box), in order. The steps run from the event loop, so a test can
// block in exec() or in a handler while they act.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

class QWidget;

namespace chronavel::test {

class ModalScript : public QObject {
    Q_OBJECT

public:
    // A step gets the active modal window; true when it acted on it.
    using Step = std::function<bool(QWidget* modal)>;

    ModalScript();
    void Then(Step step);
    // Answers the next message box with OK (true) or Cancel, and notes its
    // title and text.
    void AnswerBox(bool ok);
    bool Done() const { return steps_.empty(); }
    // "title|text" of every box answered.
    const QStringList& Boxes() const { return boxes_; }

private slots:
    void Poll();

private:
    QTimer timer_;
    std::deque<Step> steps_;
    QStringList boxes_;
};

// Runs the event loop until cond holds or ms pass; the result of cond.
bool WaitUntil(const std::function<bool()>& cond, int ms);

} // namespace chronavel::test
