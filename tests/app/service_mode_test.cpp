// The service mode's switch: what it shows, moves and grows, and that
// switching off puts every component back as it was.
#include "app/service_mode.h"

#include <gtest/gtest.h>
#include <map>

namespace chronavel {
namespace {

class FakeSurface : public ServiceSurface {
public:
    struct Item {
        bool Visible = false;
        Box Place;
    };
    std::map<std::string, Item> items;
    int moves = 0;

    bool Has(const std::string& n) const override { return items.count(n) != 0; }
    bool Visible(const std::string& n) const override { return items.at(n).Visible; }
    void SetVisible(const std::string& n, bool on) override { items.at(n).Visible = on; }
    Box Place(const std::string& n) const override { return items.at(n).Place; }
    void SetPlace(const std::string& n, const Box& b) override
    {
        items.at(n).Place = b;
        ++moves;
    }
};

TEST(ServiceLayoutTest, ShowsMovesGrowsAndPutsEverythingBack)
{
    ServiceLayout layout({
        {"Menu", true, std::nullopt},             // shown
        {"Shown", true, std::nullopt},            // already shown: stays
        {"Window", false, std::nullopt, 100, 50}, // grown only
        {"Label", true, Box{500, 8}},             // moved, keeps its size
        {"Button", true, Box{10, 20, 140, 25}},   // moved and sized
        {"Missing", true, Box{1, 2, 3, 4}},       // not in the window
    });
    FakeSurface s;
    s.items = {{"Menu", {false, {}}},
               {"Shown", {true, {}}},
               {"Window", {true, {0, 0, 484, 300}}},
               {"Label", {false, {16, 320, 120, 30}}},
               {"Button", {false, {16, 900, 75, 25}}},
               {"Other", {false, {1, 1, 1, 1}}}};
    const auto standard = s.items;

    struct Step {
        bool on;
        std::map<std::string, bool> visible;
        std::map<std::string, Box> place;
    } steps[] = {
        {true,
         {{"Menu", true}, {"Shown", true}, {"Label", true}, {"Button", true}, {"Other", false}},
         {{"Window", {0, 0, 584, 350}},
          {"Label", {500, 8, 120, 30}},
          {"Button", {10, 20, 140, 25}}}},
        {true, // again: nothing changes
         {{"Menu", true}, {"Label", true}},
         {{"Window", {0, 0, 584, 350}}}},
        {false,
         {{"Menu", false}, {"Shown", true}, {"Label", false}, {"Button", false}},
         {{"Window", {0, 0, 484, 300}},
          {"Label", {16, 320, 120, 30}},
          {"Button", {16, 900, 75, 25}}}},
    };
    for (const auto& step : steps) {
        layout.Switch(s, step.on);
        EXPECT_EQ(layout.On(), step.on);
        for (const auto& [name, v] : step.visible)
            EXPECT_EQ(s.items[name].Visible, v) << name << " on=" << step.on;
        for (const auto& [name, b] : step.place)
            EXPECT_EQ(s.items[name].Place, b) << name << " on=" << step.on;
    }
    for (const auto& [name, item] : standard) {
        EXPECT_EQ(s.items[name].Visible, item.Visible) << name;
        EXPECT_EQ(s.items[name].Place, item.Place) << name;
    }
    // Something a command showed in service mode is hidden again as well.
    layout.Switch(s, true);
    s.items["Menu"].Visible = false;
    s.items["Label"].Place = {0, 0, 5, 5};
    layout.Switch(s, false);
    EXPECT_EQ(s.items["Menu"].Visible, false);
    EXPECT_EQ(s.items["Label"].Place, (Box{16, 320, 120, 30}));
}

TEST(ServiceLayoutTest, MainWindowLayoutFitsItsGrownWindow)
{
    // Every placed component lies inside the grown client area (968 x 492),
    // and nothing placed overlaps anything else placed.
    const auto items = MainWindowServiceItems();
    std::vector<std::pair<std::string, Box>> placed;
    for (const auto& i : items) {
        if (i.Place)
            placed.emplace_back(i.Name, *i.Place);
        if (i.Name == "ClientArea") {
            EXPECT_EQ(i.GrowW, 484);
            EXPECT_EQ(i.GrowH, 231);
        }
    }
    // Sizes the window keeps for the labels and the grid (their places hold
    // only positions).
    const std::map<std::string, Box> kept = {{"Label3", {0, 0, 300, 30}},
                                             {"Label8", {0, 0, 468, 80}},
                                             {"Label5", {0, 0, 330, 30}},
                                             {"DrawGrid1", {0, 0, 484, 287}}};
    for (auto& [name, b] : placed) {
        if (b.W == 0) {
            b.W = kept.at(name).W;
            b.H = kept.at(name).H;
        }
        EXPECT_LE(b.X + b.W, 968) << name;
        EXPECT_LE(b.Y + b.H, 492) << name;
    }
    for (size_t a = 0; a < placed.size(); ++a)
        for (size_t b = a + 1; b < placed.size(); ++b) {
            const Box& p = placed[a].second;
            const Box& q = placed[b].second;
            const bool apart =
                p.X + p.W <= q.X || q.X + q.W <= p.X || p.Y + p.H <= q.Y || q.Y + q.H <= p.Y;
            EXPECT_TRUE(apart) << placed[a].first << " overlaps " << placed[b].first;
        }
}

TEST(ServiceLayoutTest, GrownWindowIsKeptWithinTheScreen)
{
    // The main window grown to 968 + frame pixels on a 1280 x 984 working
    // area that starts below a panel at y = 40.
    const Box area{0, 40, 1280, 984};
    const struct {
        Box window;
        int x, y;
    } cases[] = {
        {{398, 300, 978, 560}, 302, 300}, // centred: moved left just enough
        {{100, 100, 978, 560}, 100, 100}, // fits: stays
        {{700, 600, 978, 560}, 302, 464}, // past the right and the bottom
        {{-50, 10, 978, 560}, 0, 40},     // past the left and above the area
        {{500, 100, 1400, 560}, 0, 100},  // wider than the area: its left edge
        {{500, 500, 978, 1100}, 302, 40}, // higher: its top edge
    };
    for (const auto& c : cases) {
        const Box in = KeepWithin(c.window, area);
        EXPECT_EQ(in, (Box{c.x, c.y, c.window.W, c.window.H})) << c.window.X << "," << c.window.Y;
    }
}

} // namespace
} // namespace chronavel
