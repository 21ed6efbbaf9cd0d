#include "config/multiline_tabs_qt.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QResizeEvent>
#include <algorithm>

namespace chronavel {

namespace {

// Tabs look like tabs: raised when chosen, joined to the page below.
constexpr const char* kTabStyle =
    "QToolButton { border: 1px solid palette(mid); border-bottom: none;"
    " border-top-left-radius: 3px; border-top-right-radius: 3px;"
    " padding: 1px 3px; background: palette(midlight); color: palette(window-text); }"
    "QToolButton:!checked { background: palette(button); border-color: palette(mid);"
    " margin-top: 2px; }"
    "QToolButton:checked { background: palette(base); border-color: palette(dark); }";

} // namespace

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
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    group_->addButton(b, index);
    buttons_.push_back(b);
    if (index == 0)
        b->setChecked(true);
    flowed_width_ = -1;
    Reflow(flow_width_hint_);
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
    Reflow(event->size().width());
}

void MultiLineTabs::Reflow(int outer_width)
{
    flow_width_hint_ = outer_width;
    const int width = outer_width - 4;
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
    // As few rows as the width allows, filled evenly rather than leaving
    // one tab alone on the last row.
    std::vector<int> widths;
    int total = 0;
    for (QToolButton* b : buttons_) {
        widths.push_back(b->sizeHint().width());
        total += widths.back();
    }
    const auto rows_for = [&](int limit) {
        int rows = 1, used = 0;
        for (int w : widths) {
            if (used > 0 && used + w > limit) {
                ++rows;
                used = 0;
            }
            used += w;
        }
        return rows;
    };
    const int rows_needed = rows_for(width);
    int limit = std::min(width, (total + rows_needed - 1) / rows_needed);
    while (limit < width && rows_for(limit) > rows_needed)
        ++limit;

    QHBoxLayout* row = nullptr;
    int used = 0;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        QToolButton* b = buttons_[i];
        const int w = widths[i];
        if (!row || (used > 0 && used + w > limit)) {
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

} // namespace chronavel
