// A window's port list as EnumPorts fills it: the connection dialog and the
// parameters window show the same list.
#pragma once

#include "port/port_list.h"

#include <QComboBox>
#include <QString>

namespace chronavel {

class ComboPortBox final : public PortBox {
public:
    explicit ComboPortBox(QComboBox* box) : box_(box) {}
    void Clear() override { box_->clear(); }
    void Add(const std::string& text) override { box_->addItem(QString::fromStdString(text)); }
    void Select(int index) override { box_->setCurrentIndex(index); }

private:
    QComboBox* box_;
};

} // namespace chronavel
