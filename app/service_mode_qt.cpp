#include "app/service_mode_qt.h"

#include "dialogs/connection_dialog.h"
#include "dialogs/sent_log_window.h"

#include <QAction>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

namespace chronavel {

QObject* WidgetSurface::Find(const std::string& name) const
{
    const QString n = QString::fromStdString(name);
    if (window_->objectName() == n)
        return window_;
    return window_->findChild<QObject*>(n);
}

bool WidgetSurface::Has(const std::string& name) const
{
    QObject* o = Find(name);
    return qobject_cast<QWidget*>(o) || qobject_cast<QAction*>(o);
}

bool WidgetSurface::Visible(const std::string& name) const
{
    QObject* o = Find(name);
    if (auto* a = qobject_cast<QAction*>(o))
        return a->isVisible();
    // Its own setting, whether or not the window is on the screen.
    auto* w = qobject_cast<QWidget*>(o);
    return w && !w->isHidden();
}

void WidgetSurface::SetVisible(const std::string& name, bool on)
{
    QObject* o = Find(name);
    if (auto* a = qobject_cast<QAction*>(o))
        a->setVisible(on);
    else if (auto* w = qobject_cast<QWidget*>(o); w && w != window_)
        w->setVisible(on);
}

Box WidgetSurface::Place(const std::string& name) const
{
    auto* w = qobject_cast<QWidget*>(Find(name));
    if (!w)
        return Box{};
    const QRect g = w == window_ ? QRect(QPoint(0, 0), w->size()) : w->geometry();
    return Box{g.x(), g.y(), g.width(), g.height()};
}

void WidgetSurface::SetPlace(const std::string& name, const Box& b)
{
    auto* w = qobject_cast<QWidget*>(Find(name));
    if (!w)
        return;
    const bool fixed = w->minimumSize() == w->maximumSize();
    if (fixed)
        w->setFixedSize(b.W, b.H);
    if (w == window_)
        w->resize(b.W, b.H); // the window is sized, never moved
    else
        w->setGeometry(b.X, b.Y, b.W, b.H);
}

TServiceMode::TServiceMode(QWidget* main_window, QAction* service_menu)
    : QObject(main_window), main_window_(main_window), service_menu_(service_menu),
      main_(MainWindowServiceItems()), dialog_(ConnectionServiceItems())
{
    setObjectName(QStringLiteral("ServiceMode"));
    Shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), main_window);
    Shortcut->setContext(Qt::WindowShortcut);
    connect(Shortcut, &QShortcut::activated, this, &TServiceMode::Toggle);
}

void TServiceMode::Switch(bool on)
{
    if (on == On())
        return;
    if (on && service_menu_ && service_menu_->menu()) {
        OverviewItem = service_menu_->menu()->addAction(QString::fromUtf8(kOverviewItemCaption));
        OverviewItem->setObjectName(QString::fromLatin1(kOverviewItemName));
        connect(OverviewItem, &QAction::triggered, this, [this] {
            if (OnOverview)
                OnOverview();
        });
        LogItem = service_menu_->menu()->addAction(QString::fromUtf8(kLogItemCaption));
        LogItem->setObjectName(QString::fromLatin1(kLogItemName));
        connect(LogItem, &QAction::triggered, this, &TServiceMode::LogItemClick);
    } else if (!on && LogItem) {
        delete LogItem; // leaves the menu as well
        LogItem = nullptr;
        delete OverviewItem;
        OverviewItem = nullptr;
    }
    // The frame a window manager adds, measured before the size changes.
    const QSize frame = main_window_->frameGeometry().size() - main_window_->size();
    WidgetSurface main_surface(main_window_);
    main_.Switch(main_surface, on);
    if (on) {
        // Grown to the right and down, the window may reach past the screen
        // (centred on 1280 pixels, its right third would): moved back in.
        const QScreen* screen = main_window_->screen();
        const QPoint at = main_window_->pos();
        if (screen) {
            const QRect area = screen->availableGeometry();
            const QSize size = main_window_->size() + frame;
            const Box in = KeepWithin(Box{at.x(), at.y(), size.width(), size.height()},
                                      Box{area.x(), area.y(), area.width(), area.height()});
            if (in.X != at.x() || in.Y != at.y()) {
                moved_from_ = at;
                main_window_->move(in.X, in.Y);
            }
        }
    } else if (moved_from_) {
        main_window_->move(*moved_from_);
        moved_from_.reset();
    }
    if (Form5) {
        WidgetSurface dialog_surface(Form5);
        dialog_.Switch(dialog_surface, on);
    }
    if (Form2) {
        // The log collects from the moment the mode is on, so it holds what
        // happened before it was opened; it is not part of the standard
        // layout.
        Form2->SetCapture(on);
        if (!on)
            Form2->hide();
    }
}

void TServiceMode::LogItemClick()
{
    if (!Form2)
        return;
    // Beside the main window, not modal: the log is read while working.
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
}

} // namespace chronavel
