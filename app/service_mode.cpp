#include "app/service_mode.h"

namespace chronavel {

namespace {

// The main window's standard client area is 484 wide; its right half in
// service mode starts there.
constexpr int kHalf = 484;
constexpr int kButtonRow = 462;

} // namespace

void ServiceLayout::Switch(ServiceSurface& s, bool on)
{
    if (on == on_)
        return;
    on_ = on;
    if (on) {
        saved_.clear();
        for (const ServiceItem& item : items_) {
            if (!s.Has(item.Name))
                continue;
            const Box was = s.Place(item.Name);
            saved_.push_back(Saved{item.Name, s.Visible(item.Name), was});
            if (item.Place || item.GrowW != 0 || item.GrowH != 0) {
                Box b = was;
                if (item.Place) {
                    b.X = item.Place->X;
                    b.Y = item.Place->Y;
                    if (item.Place->W > 0)
                        b.W = item.Place->W;
                    if (item.Place->H > 0)
                        b.H = item.Place->H;
                }
                b.W += item.GrowW;
                b.H += item.GrowH;
                s.SetPlace(item.Name, b);
            }
            if (item.Show)
                s.SetVisible(item.Name, true);
        }
        return;
    }
    // Back in the reverse order, so a window shrinks only after what it
    // holds has gone back.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (!s.Has(it->Name))
            continue;
        s.SetVisible(it->Name, it->Visible);
        if (s.Place(it->Name) != it->Place)
            s.SetPlace(it->Name, it->Place);
    }
    saved_.clear();
}

Box KeepWithin(const Box& window, const Box& area)
{
    auto fit = [](int at, int size, int from, int room) {
        if (at + size > from + room)
            at = from + room - size;
        return at < from ? from : at;
    };
    Box b = window;
    b.X = fit(window.X, window.W, area.X, area.W);
    b.Y = fit(window.Y, window.H, area.Y, area.H);
    return b;
}

std::vector<ServiceItem> MainWindowServiceItems()
{
    std::vector<ServiceItem> items;
    for (const char* menu : {"N8", "N12", "N5", "N6"})
        items.push_back(ServiceItem{menu, true, std::nullopt, 0, 0});
    // The window first, then what moves into the room it gains.
    items.push_back(ServiceItem{"Form1", false, std::nullopt, kHalf, 231});
    items.push_back(ServiceItem{"ClientArea", false, std::nullopt, kHalf, 231});
    items.push_back(ServiceItem{"Label3", true, Box{kHalf + 16, 8}});
    items.push_back(ServiceItem{"Label8", true, Box{kHalf + 16, 40}});
    items.push_back(ServiceItem{"Label5", true, Box{kHalf + 16, 128}});
    items.push_back(ServiceItem{"DrawGrid1", true, Box{kHalf, 164}});
    // Below the date, where the standard layout ends: the PC clock as a source,
    // three lines for its state and the last extra synchronisation.
    items.push_back(ServiceItem{"LabelTimeSource", true, Box{16, 300, 452, 60}});
    const struct {
        const char* name;
        int x, w;
    } row[] = {{"Button1", 16, 70},   {"Button2", 94, 130},  {"Button3", 232, 140},
               {"Button4", 380, 250}, {"Button5", 638, 160}, {"Edit2", 806, 60},
               {"Button6", 874, 70}};
    for (const auto& r : row) {
        const bool edit = std::string(r.name) == "Edit2";
        items.push_back(
            ServiceItem{r.name, true, Box{r.x, kButtonRow + (edit ? 1 : 0), r.w, edit ? 22 : 25}});
    }
    return items;
}

std::vector<ServiceItem> ConnectionServiceItems()
{
    return {
        ServiceItem{"Form5", false, std::nullopt, 0, 64},
        ServiceItem{"GroupBox2", true, Box{8, 204}},
    };
}

} // namespace chronavel
