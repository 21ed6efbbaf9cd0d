#include "windows/support/modal_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>

namespace chronavel::test {

ModalScript::ModalScript()
{
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Poll);
}

void ModalScript::Then(Step step)
{
    steps_.push_back(std::move(step));
    timer_.start();
}

void ModalScript::AnswerBox(bool ok)
{
    Then([this, ok](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return false;
        boxes_ << box->windowTitle() + QLatin1Char('|') + box->text();
        QAbstractButton* b = box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel);
        if (!b)
            b = box->button(QMessageBox::Ok);
        b->click();
        return true;
    });
}

void ModalScript::Poll()
{
    if (steps_.empty()) {
        timer_.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    Step step = steps_.front();
    if (step(modal))
        steps_.pop_front();
}

bool WaitUntil(const std::function<bool()>& cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return cond();
        QTest::qWait(5);
    }
    return true;
}

} // namespace chronavel::test
