// The service mode: a technician's view of the facilities the standard
// layout keeps hidden. Switching it on shows the listed components of a
// window and moves or grows those given a place; switching it off puts back
// exactly what was there before (visibility, place, size). It is never
// stored: every run starts in the standard layout.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chronavel {

struct Box {
    int X = 0, Y = 0, W = 0, H = 0;
    bool operator==(const Box&) const = default;
};

// A window as the service mode sees it: components by their names. The
// window goes by its own name; its box is its size (it is not moved).
class ServiceSurface {
public:
    virtual ~ServiceSurface() = default;
    virtual bool Has(const std::string& name) const = 0;
    virtual bool Visible(const std::string& name) const = 0;
    virtual void SetVisible(const std::string& name, bool on) = 0;
    virtual Box Place(const std::string& name) const = 0;
    virtual void SetPlace(const std::string& name, const Box& box) = 0;
};

struct ServiceItem {
    std::string Name;
    bool Show = true;         // made visible in service mode
    std::optional<Box> Place; // moved there; a W or H of 0 keeps that extent
    int GrowW = 0;            // or made this much wider
    int GrowH = 0;            // and higher
};

class ServiceLayout {
public:
    explicit ServiceLayout(std::vector<ServiceItem> items) : items_(std::move(items)) {}

    bool On() const { return on_; }
    // Switching to the state it is in changes nothing. Components the window
    // does not have are passed over.
    void Switch(ServiceSurface& surface, bool on);

private:
    struct Saved {
        std::string Name;
        bool Visible = false;
        Box Place;
    };
    std::vector<ServiceItem> items_;
    std::vector<Saved> saved_;
    bool on_ = false;
};

// Where a window (its frame: position and size) goes to lie within area (the
// screen's available area): moved left and up just as far as it reaches
// past the right and bottom edges; one larger than the area keeps its left
// or top edge on the area's. The size is kept.
Box KeepWithin(const Box& window, const Box& area);

// The main window in service mode: the hidden menu items shown, the window twice as wide and
// higher, the emulated clock display in the new right half, and the service buttons with Edit2 in a
// row below.
std::vector<ServiceItem> MainWindowServiceItems();
// The connection dialog: the hidden "Табло: " box with "Мастер..." shown
// below "Подключить", the dialog grown to hold it.
std::vector<ServiceItem> ConnectionServiceItems();

// The log's menu item, which the "Сервис" menu holds only in service mode.
constexpr const char* kLogItemCaption = "Отправленные данные....";
constexpr const char* kLogItemName = "N21";
// The line overview's, before it.
constexpr const char* kOverviewItemCaption = "Обзор линии";
constexpr const char* kOverviewItemName = "N22";

} // namespace chronavel
