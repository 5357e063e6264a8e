// Faces on real GTK widgets (run under xvfb-run): what a script cannot see
// of them, the widgets themselves. Lists hold only their text entries, and
// no widget outlives its face, whatever the script does to it.
#include "gui/backend/gui.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/widgets.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

namespace kiv::widgets {
namespace {

class Widgets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gui::add_routines();
        embed::boot();
        gui::load_engine();
        run("system/view/platform/init");
    }
    void SetUp() override {
        const toolkit::Toolkit* tk = toolkit::get();
        if (tk == nullptr || std::string(tk->name) != "gtk") GTEST_SKIP() << "no display";
    }
    void TearDown() override {
        run("unview/all  loop 20 [do-events/no-wait]");
        EXPECT_EQ(live_count(), 0);
        EXPECT_EQ(natives(), 0);
    }
    static std::string run(const char* code) {
        const embed::Result r = embed::eval_text(code);
        return r.ok ? embed::mold(r.value) : embed::error_report(r.value);
    }
    // Native widgets made and not destroyed.
    static int natives() {
        const auto count = reinterpret_cast<std::int32_t (*)()>(toolkit::module_symbol("kiv_gui_live_natives"));
        return count != nullptr ? count() : -1;
    }
    // The first live widget of a face type.
    static GtkWidget* first(FaceType type) {
        for (std::int32_t i = 1; i < 100000; ++i)
            if (const Widget* w = get(i); w != nullptr && w->type == type) return static_cast<GtkWidget*>(w->native);
        return nullptr;
    }
    static GtkWidget* inner(GtkWidget* w) {
        auto* in = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), "kiv-inner"));
        return in != nullptr ? in : w;
    }
};

TEST_F(Widgets, ListsTakeOnlyTextEntries) {
    run(R"(win: make face! [type: 'window size: 200x200 offset: 0x0]
           list: make face! [type: 'text-list size: 100x100 data: ["a" 1 "bcd"]]
           drop: make face! [type: 'drop-list offset: 0x120 size: 100x24 data: [%f 2.5 <t> http://x none]]
           win/pane: reduce [list drop]
           view/no-wait win)");
    GtkTreeModel* rows = gtk_tree_view_get_model(GTK_TREE_VIEW(inner(first(FaceType::text_list))));
    EXPECT_EQ(gtk_tree_model_iter_n_children(rows, nullptr), 2);
    EXPECT_EQ(run("list/selected"), "-1");  // no choice
    GtkTreeModel* choices = gtk_combo_box_get_model(GTK_COMBO_BOX(first(FaceType::drop_list)));
    EXPECT_EQ(gtk_tree_model_iter_n_children(choices, nullptr), 3);
    run(R"(append list/data [3 "e" "f"]  remove list/data)");
    EXPECT_EQ(gtk_tree_model_iter_n_children(rows, nullptr), 3);  // "bcd" "e" "f"
    run(R"(list/data: 12)");  // no block: no entries
    EXPECT_EQ(gtk_tree_model_iter_n_children(rows, nullptr), 0);
}

TEST_F(Widgets, NoWidgetOutlivesItsFace) {
    // 5,000 faces in one panel, the panel's pane replaced, then the window closed
    run(R"(win: make face! [type: 'window size: 300x300 offset: 0x0]
           panel: make face! [type: 'panel size: 300x300 pane: make block! 5000]
           repeat i 5000 [append panel/pane make face! [type: 'base offset: as-pair i // 100 i // 50 size: 3x3]]
           win/pane: reduce [panel]
           view/no-wait win)");
    EXPECT_EQ(live_count(), 5002);
    EXPECT_EQ(natives(), 5002);
    run(R"(panel/pane: reduce [make face! [type: 'button size: 10x10] make face! [type: 'field size: 10x10]])");
    EXPECT_EQ(live_count(), 4);
    EXPECT_EQ(natives(), 4);
    run("remove panel/pane");
    EXPECT_EQ(live_count(), 3);
    EXPECT_EQ(natives(), 3);
}

TEST_F(Widgets, AFaceMovedToAnotherPaneLivesOnInIt) {
    run(R"(win: make face! [type: 'window size: 300x300 offset: 0x0]
           a: make face! [type: 'panel size: 100x100 pane: reduce [make face! [type: 'button size: 50x20 text: "moved"]]]
           b: make face! [type: 'panel offset: 150x0 size: 100x100 pane: copy []]
           win/pane: reduce [a b]
           view/no-wait win
           move a/pane b/pane
           remove win/pane)");  // the button's old panel goes
    EXPECT_EQ(live_count(), 3);
    EXPECT_EQ(natives(), 3);
    GtkWidget* button = first(FaceType::button);
    ASSERT_NE(button, nullptr);
    run(R"(b/pane/1/text: "still here")");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button)), "still here");
}

TEST_F(Widgets, UnviewInsideAnActor) {
    run(R"(win: make face! [type: 'window size: 100x100 offset: 0x0]
           button: make face! [type: 'button size: 50x20 actors: make object! [on-click: func [face event] [unview/only win]]]
           radio: make face! [type: 'radio offset: 0x30 size: 50x20]
           win/pane: reduce [button radio]
           view/no-wait win)");
    EXPECT_EQ(natives(), 3);
    gtk_button_clicked(GTK_BUTTON(first(FaceType::button)));  // as the user's click
    EXPECT_EQ(run("win/state"), "none");
    EXPECT_EQ(live_count(), 0);
}

TEST_F(Widgets, AFocusedFaceIsItsWindowsSelected) {
    run(R"(log: copy []
           logger: make object! [on-focus: on-unfocus: func [face event] [append log reduce [face/type event/type]]]
           win: make face! [type: 'window size: 100x100 offset: 0x0]
           button: make face! [type: 'button size: 50x20 actors: logger]
           field: make face! [type: 'field offset: 0x30 size: 50x20 actors: logger]
           win/pane: reduce [button field]
           view/no-wait win  loop 30 [do-events/no-wait]  clear log)");
    gtk_window_present(GTK_WINDOW(first(FaceType::window)));
    gtk_widget_grab_focus(first(FaceType::button));
    run("loop 30 [do-events/no-wait]");
    EXPECT_EQ(run("same? win/selected button"), "true");
    gtk_widget_grab_focus(first(FaceType::field));
    run("loop 30 [do-events/no-wait]");
    EXPECT_EQ(run("same? win/selected field"), "true");
    EXPECT_EQ(run("log"), "[button focus button unfocus field focus]");
}

TEST_F(Widgets, AFaceShownTwiceHasOneWidget) {
    run(R"(win: make face! [type: 'window size: 100x100 offset: 0x0 pane: reduce [make face! [type: 'check size: 50x20]]]
           view/no-wait win  view/no-wait win  show win)");
    EXPECT_EQ(live_count(), 2);
    EXPECT_EQ(natives(), 2);
}

TEST_F(Widgets, ADrawBlockThatFailsDuringPaint) {
    run(R"(win: make face! [type: 'window size: 100x100 offset: 0x0]
           bad: make face! [type: 'base size: 40x40 color: 0.0.255 draw: [pen red box 0x0 10x10 nonsense]]
           raising: make face! [type: 'base offset: 50x0 size: 40x40
               actors: make object! [on-drawing: func [face event] [system/view/platform/draw-face face [fill-pen red box 0x0 10x10] 1 / 0]]]
           win/pane: reduce [bad raising]
           view/no-wait win)");
    run("loop 50 [do-events/no-wait]");
    EXPECT_EQ(run("pick to image! bad 20x20"), "0.0.255.0");  // the colour is painted, the block drawn up to its fault
    EXPECT_EQ(run("pick to image! raising 5x5"), "255.0.0.0");  // drawn before the actor failed
    EXPECT_EQ(run("1 + 1"), "2");
}

TEST_F(Widgets, DrawnFacesPaintTheirImageTextAndDrawing) {
    run(R"(win: make face! [type: 'window size: 200x200 offset: 0x0]
           rich: make face! [type: 'rich-text size: 60x40 color: 0.0.128
               actors: make object! [on-drawing: func [face event] [system/view/platform/draw-face face [pen off fill-pen red box 50x30 60x40]]]]
           pictured: make face! [type: 'base offset: 70x0 size: 40x40 image: make image! [4x4 0.255.0]]
           win/pane: reduce [rich pictured]
           view/no-wait win)");
    EXPECT_EQ(run("pick to image! rich 55x35"), "255.0.0.0");  // a rich-text face is drawn by its actor too
    EXPECT_EQ(run("pick to image! rich 5x5"), "0.0.128.0");
    EXPECT_EQ(run("pick to image! pictured 39x39"), "0.255.0.0");  // the image fills the face
}

TEST_F(Widgets, AWindowClosedWhileItsLoopRuns) {
    run(R"(win: make face! [type: 'window size: 100x100 offset: 0x0 text: "looping"])");
    // the user closes the window from inside its own loop
    g_timeout_add(
        100,
        [](gpointer) -> gboolean {
            if (GtkWidget* w = first(FaceType::window)) gtk_window_close(GTK_WINDOW(w));
            return G_SOURCE_REMOVE;
        },
        nullptr);
    run("view win");  // returns once the window is gone
    EXPECT_EQ(run("win/state"), "none");
}

TEST_F(Widgets, FacetsOfTheWrongType) {
    run(R"(win: make face! [type: 'window size: 300x300 offset: 0x0]
           faces: collect [
               foreach type [button toggle check radio field area text text-list drop-list drop-down
                             progress slider scroller calendar group-box tab-panel panel base rich-text] [
                   keep make face! compose [type: (to lit-word! type) size: 40x20]
               ]
           ]
           win/pane: faces
           view/no-wait win
           foreach f faces [
               foreach value reduce [none 1 -7 2.5 "x" [1 "a" none] 1x2 #"c" now 150% 'word make object! [a: 1]] [
                   foreach facet [data selected text flags options] [attempt [f/:facet: :value]]
               ]
           ])");
    EXPECT_EQ(run("loop 20 [do-events/no-wait] length? win/pane"), "19");
    EXPECT_EQ(run(R"(attempt [faces/1/rate: 0] get in try [faces/1/rate: 0] 'id)"), "invalid-facet-type");
    EXPECT_EQ(run(R"(get in try [faces/1/rate: "often"] 'id)"), "invalid-facet-type");
    EXPECT_EQ(run("faces/1/rate: none  faces/1/rate: 0:0:0.5  faces/1/rate"), "0:00:00.5");
}

// The widget's size in pixels once the toolkit laid it out.
std::string allocated(GtkWidget* w) {
    GtkAllocation a{};
    gtk_widget_get_allocation(w, &a);
    return std::to_string(a.width) + "x" + std::to_string(a.height);
}

TEST_F(Widgets, WidgetsTakeTheirFacesSizes) {
    // themes ask for more room than small faces give: the style sheet lets them
    // shrink (down to what a check's box or a scroll bar's arrows need)
    run(R"(win: make face! [type: 'window size: -1x-1 offset: 0x0 pane: reduce [
               make face! [type: 'button size: 30x12 text: "a long caption"]
               make face! [type: 'field offset: 0x20 size: 25x12]
               make face! [type: 'drop-list offset: 0x40 size: 30x14 data: ["a long entry"]]
               make face! [type: 'check offset: 0x60 size: 60x30 text: "checked"]
               make face! [type: 'text-list offset: 0x100 size: 60x60 data: ["a" "b" "c" "d"]]]]
           view/no-wait win  loop 50 [do-events/no-wait])");
    EXPECT_EQ(allocated(gtk_bin_get_child(GTK_BIN(first(FaceType::window)))), "200x200");  // a side below 0 is 200
    EXPECT_EQ(allocated(first(FaceType::button)), "30x12");
    EXPECT_EQ(allocated(first(FaceType::field)), "25x12");
    EXPECT_EQ(allocated(first(FaceType::drop_list)), "30x14");
    EXPECT_EQ(allocated(first(FaceType::check)), "60x30");
    EXPECT_EQ(allocated(first(FaceType::text_list)), "60x60");
    // a window the user cannot resize smaller than GTK's 200x200 keeps its size
    run("unview/all  win: make face! [type: 'window size: 150x80 offset: 0x0]  view/no-wait win  loop 50 [do-events/no-wait]");
    EXPECT_EQ(allocated(gtk_bin_get_child(GTK_BIN(first(FaceType::window)))), "150x80");
    EXPECT_EQ(run("win/size"), "150x80");
}

TEST_F(Widgets, PasswordFieldsAndCalendarYears) {
    run(R"(win: make face! [type: 'window size: 300x300 offset: 0x0]
           field: make face! [type: 'field size: 100x20 text: "secret" flags: [password]]
           calendar: make face! [type: 'calendar offset: 0x30 size: 200x160 data: 15-Mar-1500]
           win/pane: reduce [field calendar]
           view/no-wait win)");
    auto* entry = GTK_ENTRY(first(FaceType::field));
    EXPECT_FALSE(gtk_entry_get_visibility(entry));
    EXPECT_EQ(gtk_entry_get_invisible_char(entry), 0x25CFu);
    run("field/flags: none");
    EXPECT_TRUE(gtk_entry_get_visibility(entry));
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(GTK_CALENDAR(first(FaceType::calendar)), &year, &month, &day);
    EXPECT_EQ(year, 1601u);
    EXPECT_EQ(month + 1, 3u);
    EXPECT_EQ(day, 15u);
    run("calendar/data: 31-Dec-9999 + 1");
    gtk_calendar_get_date(GTK_CALENDAR(first(FaceType::calendar)), &year, &month, &day);
    EXPECT_EQ(year, 9999u);
}

TEST_F(Widgets, WindowsTellTheirMovesAndSizes) {
    run(R"(log: copy []
           win: make face! [type: 'window size: 100x100 offset: 10x10 flags: [resize]
               actors: make object! [on-move: on-resize: func [face event] [append log event/type]]]
           view/no-wait win  loop 50 [do-events/no-wait])");
    run("clear log  win/offset: 50x60  win/size: 150x120  loop 100 [do-events/no-wait  wait 0.01]");
    EXPECT_EQ(run("log"), "[move resize]");
    GtkWidget* window = first(FaceType::window);
    gint x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 60);
    gtk_window_resize(GTK_WINDOW(window), 180, 90);  // as the user's resize
    run("clear log  loop 100 [do-events/no-wait  wait 0.01]");
    EXPECT_EQ(run("log"), "[resize]");
    EXPECT_EQ(run("win/size"), "180x90");
}

TEST_F(Widgets, ScrollableFacesHaveBarsTheLanguageMoves) {
    run(R"(log: copy []
           win: make face! [type: 'window size: 200x200 offset: 0x0]
           box: make face! [type: 'rich-text size: 150x150 flags: [scrollable]
               actors: make object! [on-scroll: func [face event] [append log reduce [event/key event/picked event/orientation]]]]
           win/pane: reduce [box]
           view/no-wait win
           bar: get-scroller box 'vertical
           bar/max-size: 50  bar/page-size: 10  bar/position: 7)");
    GtkWidget* fixed = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(first(FaceType::rich_text)), "kiv-fixed"));
    GtkRange* vertical = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
    for (GList* c = children; c != nullptr; c = c->next)
        if (GTK_IS_SCROLLBAR(c->data) && gtk_orientable_get_orientation(GTK_ORIENTABLE(c->data)) == GTK_ORIENTATION_VERTICAL)
            vertical = GTK_RANGE(c->data);
    g_list_free(children);
    ASSERT_NE(vertical, nullptr);
    GtkAdjustment* a = gtk_range_get_adjustment(vertical);
    EXPECT_EQ(gtk_adjustment_get_value(a), 7.0);
    EXPECT_EQ(gtk_adjustment_get_page_size(a), 10.0);
    EXPECT_EQ(gtk_adjustment_get_upper(a) - gtk_adjustment_get_page_size(a), 41.0);  // the last page starts at 41
    gboolean handled = FALSE;
    g_signal_emit_by_name(vertical, "change-value", GTK_SCROLL_PAGE_FORWARD, 17.0, &handled);  // the user's page down
    g_signal_emit_by_name(vertical, "change-value", GTK_SCROLL_JUMP, 30.0, &handled);           // a dragged thumb
    EXPECT_EQ(run("log"), "[page-down 17 vertical track 30 vertical]");
    EXPECT_EQ(gtk_adjustment_get_value(a), 7.0);  // the language moves the bar, not the user
    run("bar/visible?: false");
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(vertical)));
    // the face's options choose the mouse cursor over it
    EXPECT_EQ(g_object_get_data(G_OBJECT(first(FaceType::rich_text)), "kiv-cursor"), nullptr);
    run("box/options: [cursor: I-beam]");
    EXPECT_NE(g_object_get_data(G_OBJECT(first(FaceType::rich_text)), "kiv-cursor"), nullptr);
}

TEST_F(Widgets, ATabPanelWithoutAChoiceShowsItsFirstPage) {
    run(R"(win: make face! [type: 'window size: 300x300 offset: 0x0]
           tabs: make face! [type: 'tab-panel size: 200x100 data: ["One" "Two"]
               pane: reduce [make face! [type: 'panel] make face! [type: 'panel]]]
           win/pane: reduce [tabs]
           view/no-wait win)");
    EXPECT_EQ(run("reduce [tabs/selected tabs/pane/1/visible? tabs/pane/2/visible?]"), "[1 true false]");
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(g_object_get_data(G_OBJECT(first(FaceType::tab_panel)), "kiv-back"))), 0);
}

TEST_F(Widgets, ComposedTextReachesABaseFaceAsImeEvents) {
    run(R"(log: copy []
           win: make face! [type: 'window size: 100x100 offset: 0x0]
           box: make face! [type: 'base size: 50x50 actors: make object! [on-ime: func [face event] [append log event/key]]]
           win/pane: reduce [box]
           view/no-wait win)");
    auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(first(FaceType::base)), "kiv-im"));
    ASSERT_NE(im, nullptr);
    g_signal_emit_by_name(im, "commit", "\xC3\xA9\xF0\x9F\x98\x80");  // what an input method composed: e-acute, an emoji
    EXPECT_EQ(run("log"), "[#\"\xC3\xA9\" #\"\xF0\x9F\x98\x80\"]");
}

TEST_F(Widgets, TheErrorBoxShowsItsCaptionAndText) {
    static std::string seen;
    seen.clear();
    // the user reads the box, then closes it
    g_timeout_add(
        100,
        [](gpointer) -> gboolean {
            GList* tops = gtk_window_list_toplevels();
            for (GList* t = tops; t != nullptr; t = t->next) {
                if (!GTK_IS_MESSAGE_DIALOG(t->data)) continue;
                gchar* text = nullptr;
                g_object_get(t->data, "text", &text, nullptr);
                seen = std::string(gtk_window_get_title(GTK_WINDOW(t->data))) + " / " + (text != nullptr ? text : "");
                g_free(text);
                gtk_dialog_response(GTK_DIALOG(t->data), GTK_RESPONSE_OK);
            }
            g_list_free(tops);
            return G_SOURCE_REMOVE;
        },
        nullptr);
    toolkit::get()->error_box("Caption", "*** Runtime Error 1: access violation");
    EXPECT_EQ(seen, "Caption / *** Runtime Error 1: access violation");
}

}  // namespace
}  // namespace kiv::widgets
