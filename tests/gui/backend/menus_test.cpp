// Menus without a display: menu blocks read into items, blocks of the wrong
// shape, which blocks make a menu bar, and the `menu` event a pick makes for
// a window on the recording toolkit.
#include "gui/backend/menus.h"

#include "gui/backend/gui.h"
#include "gui/backend/widgets.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kiv::menus {
namespace {

class Menus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("KIV_GUI", "record", 1);
        gui::add_routines();
        embed::boot();
        gui::load_engine();
        // win is a window face on the recording toolkit whose on-menu actor
        // logs each pick's word and offset.
        run(R"(
            log: make block! 8
            win: make face! [type: 'window size: 100x100 text: "w"]
            win/actors: make object! [on-menu: func [face event] [append log reduce [event/picked event/offset]]]
            win/state: reduce [system/view/platform/make-view win system/view/platform/make-null-handle 0 none false]
        )");
    }
    static std::string run(const std::string& code) {
        const embed::Result r = embed::eval_text(code);
        return r.ok ? embed::mold(r.value) : embed::error_report(r.value);
    }
    static constexpr std::int32_t window = 1;  // the first widget made
    static Cell face() {
        Cell f{};
        widgets::face_of(window, f);
        return f;
    }
    // The window's `menu` set to the value code makes.
    static Cell menu_of(const std::string& code) {
        run("win/menu: " + code);
        return *widgets::facet(face(), widgets::Facet::menu);
    }
    // The items of a model, one word each: caption (":word" for its data), "#id",
    // a submenu's items in brackets.
    static std::string describe(const Model& model) {
        std::string out;
        for (const Item& item : model.items) {
            if (!out.empty()) out += ' ';
            switch (item.kind) {
            case Item::Kind::separator: out += "---#" + std::to_string(item.id); break;
            case Item::Kind::end: out += ']'; break;
            default:
                out += item.caption;
                if (item.data >= 0) out += ":" + std::string(symbol::name(static_cast<symbol::SymbolId>(item.data)));
                out += "#" + std::to_string(item.id);
                if (item.kind == Item::Kind::submenu) out += '[';
            }
        }
        return out;
    }
    static std::string read(const std::string& code) {
        Model model;
        build(menu_of(code), model);
        return describe(model);
    }
};

TEST_F(Menus, BlocksReadItemByItem) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(["Open" open --- "Quit" quit])", "Open:open#0 ---#1 Quit:quit#2"},
        {R"(["Open" open "---" quit])", "Open:open#0 ---:quit#1"},  // the string is a caption
        {R"(["File" ["New" new "Old"] "Last"])", "File#0[ New:new#0 Old#1 ] Last#1"},
        {R"(["A" 42 "B" "C" 'c])", "A#0 B#1 C:c#2"},  // 42 is skipped; B and A have no word
        {R"([popup "Copy^-Ctrl+C" copy])", "Copy\tCtrl+C:copy#0"},
        {R"([1 #"a" [x] --- "Z"])", "---#0 Z#1"},
        {"[]", ""},
        {"none", ""},
    };
    for (const auto& [code, items] : cases) EXPECT_EQ(read(code), items) << code;
}

TEST_F(Menus, WrongShapesAndSizes) {
    // A menu that holds itself, and one nested past the limit: errors naming the block.
    run(R"(
        self-menu: copy ["Loop" none]  self-menu/2: self-menu
        nest: func [n /local top b] [top: b: copy [] loop n [append b copy/deep ["In" []] b: last b] top]
        deep: nest 40  fine: nest 20
    )");
    Model model;
    EXPECT_ANY_THROW(build(menu_of("self-menu"), model));
    EXPECT_ANY_THROW(build(menu_of("deep"), model));
    build(menu_of("fine"), model);
    EXPECT_EQ(model.items.size(), 40u);  // twenty submenus and their ends

    // 10,000 items, numbered by their place.
    run(R"(many: copy [] repeat i 10000 [append many reduce [rejoin ["Item " i] to word! rejoin ["w" i]]])");
    build(menu_of("many"), model);
    ASSERT_EQ(model.items.size(), 10000u);
    EXPECT_EQ(model.items.back().id, 9999);
    EXPECT_EQ(std::string(model.items.back().caption), "Item 10000");
    EXPECT_EQ(symbol::name(static_cast<symbol::SymbolId>(model.items.back().data)), "w10000");
}

TEST_F(Menus, MenuBarsAndContextMenus) {
    const struct {
        const char* type;
        const char* menu;
        bool bar;
    } cases[] = {
        {"window", R"(["File" ["Quit" quit]])", true},
        {"window", R"([popup "Copy" copy])", false},
        {"window", "[]", false},
        {"window", "none", false},
        {"base", R"(["Copy" copy])", false},
    };
    for (const auto& c : cases) {
        run(std::string("win/type: '") + c.type);
        EXPECT_EQ(menu_bar_q(menu_of(c.menu), face()), c.bar) << c.type << " " << c.menu;
    }
    run("win/type: 'window");
}

TEST_F(Menus, PicksMakeMenuEvents) {
    run("clear log");
    pick(window, static_cast<std::int32_t>(symbol::make("open")), false);
    pick(window, -1, false);              // an item with no word
    pick(window, 0x7FFFFFF0, true);       // no such symbol
    pick(window + 1000, static_cast<std::int32_t>(symbol::make("gone")), true);  // no such window: nothing
    EXPECT_EQ(run("log"), "[open (0, 0) none (0, 0) none (0, 0)]");

    // A word whose symbol id does not fit 16 bits is still the word picked.
    run("repeat i 70000 [to word! rejoin [\"many\" i]]");
    const symbol::SymbolId late = symbol::make("late-word");
    ASSERT_GT(late, 0xFFFFu);
    run("clear log");
    pick(window, static_cast<std::int32_t>(late), false);
    EXPECT_EQ(run("first log"), "late-word");
}

}  // namespace
}  // namespace kiv::menus
