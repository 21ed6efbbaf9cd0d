// A window's port list as EnumPorts fills it: the connection dialog and the
// parameters window show the same list.
#pragma once

#include "port/port_list.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QString>
#include <QStyle>

namespace chronavel {

class ComboPortBox final : public PortBox {
public:
    explicit ComboPortBox(QComboBox* box) : box_(box) {}
    void Clear() override
    {
        box_->clear();
        box_->view()->setMinimumWidth(0);
    }
    void Add(const std::string& text) override
    {
        const QString entry = QString::fromStdString(text);
        box_->addItem(entry);
        // An entry with a stable name is wider than the box: the open list is
        // made wide enough to show it whole (some styles widen it anyway,
        // others cut it).
        QAbstractItemView* view = box_->view();
        const int wide = view->fontMetrics().horizontalAdvance(entry) + kItemPadding +
                         2 * view->frameWidth() +
                         view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        if (wide > view->minimumWidth())
            view->setMinimumWidth(wide);
    }
    void Select(int index) override { box_->setCurrentIndex(index); }

private:
    static constexpr int kItemPadding = 8; // the item's own margins, in pixels
    QComboBox* box_;
};

} // namespace chronavel
