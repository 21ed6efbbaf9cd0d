#include "config/multiline_tabs_qt.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QResizeEvent>

namespace chronavel {

namespace {

// Tabs look like tabs: raised when chosen, joined to the page below.
constexpr const char* kTabStyle =
    "QToolButton { border: 1px solid palette(mid); border-bottom: none;"
    " border-top-left-radius: 3px; border-top-right-radius: 3px;"
    " padding: 2px 6px; background: palette(button); }"
    "QToolButton:checked { background: palette(window); font-weight: normal; }";

}  // namespace

MultiLineTabs::MultiLineTabs(QWidget* parent)
    : QWidget(parent), rows_(new QVBoxLayout), pages_(new QStackedWidget(this)),
      group_(new QButtonGroup(this))
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    rows_->setContentsMargins(2, 2, 2, 0);
    rows_->setSpacing(0);
    outer->addLayout(rows_);
    pages_->setFrameShape(QFrame::StyledPanel);
    outer->addWidget(pages_, 1);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &MultiLineTabs::setCurrentIndex);
}

int MultiLineTabs::addTab(QWidget* page, const QString& caption)
{
    const int index = pages_->addWidget(page);
    auto* b = new QToolButton(this);
    b->setText(caption);
    b->setCheckable(true);
    b->setAutoRaise(false);
    b->setStyleSheet(kTabStyle);
    b->setFocusPolicy(Qt::TabFocus);
    group_->addButton(b, index);
    buttons_.push_back(b);
    if (index == 0)
        b->setChecked(true);
    flowed_width_ = -1;
    Reflow();
    return index;
}

QString MultiLineTabs::tabText(int index) const
{
    const QToolButton* b = tabButton(index);
    return b ? b->text() : QString();
}

QToolButton* MultiLineTabs::tabButton(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return buttons_[static_cast<size_t>(index)];
}

void MultiLineTabs::setCurrentIndex(int index)
{
    if (index < 0 || index >= count())
        return;
    buttons_[static_cast<size_t>(index)]->setChecked(true);
    if (pages_->currentIndex() != index) {
        pages_->setCurrentIndex(index);
        emit currentChanged(index);
    }
}

void MultiLineTabs::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Reflow();
}

void MultiLineTabs::Reflow()
{
    const int width = this->width() - 4;
    if (width == flowed_width_ || buttons_.empty())
        return;
    flowed_width_ = width;

    // Take the buttons out of the old rows, then refill rows left to right.
    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (QLayout* row = item->layout()) {
            while (QLayoutItem* inner = row->takeAt(0))
                delete inner;
        }
        delete item;
    }
    QHBoxLayout* row = nullptr;
    int used = 0;
    for (QToolButton* b : buttons_) {
        const int w = b->sizeHint().width();
        if (!row || (used > 0 && used + w > width)) {
            row = new QHBoxLayout;
            row->setSpacing(0);
            row->setContentsMargins(0, 0, 0, 0);
            rows_->addLayout(row);
            used = 0;
        }
        row->addWidget(b, 1);
        used += w;
    }
}

}  // namespace chronavel
