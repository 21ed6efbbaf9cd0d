// A tab control whose tabs wrap onto as many rows as the window's width
// needs, so that every tab caption stays readable in a narrow window.
#pragma once

#include <QButtonGroup>
#include <QStackedWidget>
#include <QString>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <vector>

namespace chronavel {

class MultiLineTabs : public QWidget {
    Q_OBJECT
public:
    explicit MultiLineTabs(QWidget* parent = nullptr);

    // Adds a page; the first one added is the current one until told.
    int addTab(QWidget* page, const QString& caption);

    int count() const { return static_cast<int>(buttons_.size()); }
    QString tabText(int index) const;
    int currentIndex() const { return pages_->currentIndex(); }
    void setCurrentIndex(int index);
    QWidget* currentWidget() const { return pages_->currentWidget(); }
    QWidget* widget(int index) const { return pages_->widget(index); }
    // The tab's own button (tests click it).
    QToolButton* tabButton(int index) const;
    // Lays the tabs out for a width before the control has one of its own,
    // so the window's first size already counts the right number of rows.
    void FlowFor(int width) { Reflow(width); }

signals:
    void currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Reflow(int width);

    QVBoxLayout* rows_;
    QStackedWidget* pages_;
    QButtonGroup* group_;
    std::vector<QToolButton*> buttons_;
    int flowed_width_ = -1;
    int flow_width_hint_ = 640;
};

} // namespace chronavel
