// The service mode of the windows program: Ctrl+Shift+S on the main window
// switches it. It shows the hidden menu items, the "Мастер..." box of the
// connection dialog, the emulated clock display and the service buttons,
// adds "Обзор линии" and "Отправленные данные...." to the "Сервис" menu
// and lets the log listen; switching it off restores the standard layout exactly.
#pragma once

#include "app/service_mode.h"

#include <QObject>
#include <QPoint>
#include <functional>
#include <optional>

class QAction;
class QShortcut;
class QWidget;

namespace chronavel {

// Components of a window found by their object names (the window itself by
// its own); widgets and menu items alike.
class WidgetSurface final : public ServiceSurface {
public:
    explicit WidgetSurface(QWidget* window) : window_(window) {}
    bool Has(const std::string& name) const override;
    bool Visible(const std::string& name) const override;
    void SetVisible(const std::string& name, bool on) override;
    Box Place(const std::string& name) const override;
    void SetPlace(const std::string& name, const Box& box) override;

private:
    QObject* Find(const std::string& name) const;
    QWidget* window_;
};

class TServiceMode : public QObject {
    Q_OBJECT

public:
    // Adds the shortcut to the main window; service_menu is its "Сервис".
    explicit TServiceMode(QWidget* main_window, QAction* service_menu);

    bool On() const { return main_.On(); }
    void Switch(bool on);
    void Toggle() { Switch(!On()); }

    // "Отправленные данные...." (N21), at the end of "Сервис" while the mode
    // is on; null otherwise.
    QAction* LogItem = nullptr;
    // "Обзор линии" (N22), before the log's item while the mode is on; it
    // calls OnOverview.
    QAction* OverviewItem = nullptr;
    std::function<void()> OnOverview;
    QShortcut* Shortcut = nullptr;

private:
    void LogItemClick();

    QWidget* main_window_;
    QAction* service_menu_;
    ServiceLayout main_;
    ServiceLayout dialog_;
    // Where the main window stood before the grown window was moved back
    // inside the screen; it goes back there when the mode is switched off.
    std::optional<QPoint> moved_from_;
};

} // namespace chronavel
