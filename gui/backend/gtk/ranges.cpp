// Faces that show a value in a range: progress (its `data` a ratio 0..1),
// slider (`data` the ratio of its position, counted from the bottom when it
// stands upright), scroller (`data` the ratio of its position, `selected`
// the page as a percent of the range) and calendar (`data` the chosen day,
// its year held to 1601..9999). Each is upright when its face is taller
// than wide. The user's moves make `change`.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/units.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/percent.h"

#include <algorithm>
#include <cmath>

namespace kiv::gtk_faces {

namespace {

bool upright(const toolkit::WidgetSpec& spec) { return spec.height > spec.width; }

// The face's `data` as a ratio 0..1 (float! or percent!; anything else 0).
double data_ratio(const Cell& face) {
    const Cell* d = widgets::facet(face, Facet::data);
    if (d == nullptr || !(d->is(TypeId::float_) || d->is(TypeId::percent))) return 0.0;
    return std::clamp(units::ratio_of(*d), 0.0, 1.0);
}

void set_data_ratio(std::int32_t widget, double ratio) {
    Cell face{};
    if (!widgets::face_of(widget, face)) return;
    Cell value{};
    float_::make_at(value, ratio);
    set_facet(face, Facet::data, value);
}

// --- progress -----------------------------------------------------------------------

GtkWidget* make_progress(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkWidget* bar = gtk_progress_bar_new();
    if (upright(spec)) {
        gtk_orientable_set_orientation(GTK_ORIENTABLE(bar), GTK_ORIENTATION_VERTICAL);
        gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(bar), TRUE);  // fills from the bottom
    }
    return bar;
}

void apply_progress(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    if ((bits & widgets::change_bit(Facet::data)) != 0)
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(native(widget)), data_ratio(face));
}

// --- slider -------------------------------------------------------------------------

void on_slider_moved(GtkRange* range, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(range));
    if (quiet() || widget == 0) return;
    GtkAdjustment* a = gtk_range_get_adjustment(range);
    const double extent = gtk_adjustment_get_upper(a) - gtk_adjustment_get_lower(a);
    set_data_ratio(widget, extent > 0 ? gtk_range_get_value(range) / extent : 0.0);
    send(widget, event::Type::change);
}

GtkWidget* make_slider(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    const bool up = upright(spec);
    const double extent = std::max(1, up ? spec.height : spec.width);
    GtkWidget* scale = gtk_scale_new_with_range(up ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, 0,
                                                extent, 1);
    gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
    if (up) gtk_range_set_inverted(GTK_RANGE(scale), TRUE);  // counted from the bottom
    g_signal_connect(scale, "value-changed", G_CALLBACK(on_slider_moved), nullptr);
    return scale;
}

void apply_slider(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    auto* range = GTK_RANGE(native(widget));
    if ((bits & widgets::change_bit(Facet::size)) != 0) {
        int w = 0, h = 0;
        face_size(widget, w, h);
        gtk_range_set_range(range, 0, std::max(1, h > w ? h : w));
    }
    if ((bits & (widgets::change_bit(Facet::data) | widgets::change_bit(Facet::size))) != 0) {
        GtkAdjustment* a = gtk_range_get_adjustment(range);
        gtk_range_set_value(range, data_ratio(face) * (gtk_adjustment_get_upper(a) - gtk_adjustment_get_lower(a)));
    }
}

// --- scroller -----------------------------------------------------------------------

constexpr double scroll_range = 100.0;

// The scroller's page: `selected` (an integer!, float! or percent!) held to
// 0..1, 0.1 for anything else.
double page_of(const Cell& face) {
    const Cell* sel = widgets::facet(face, Facet::selected);
    if (sel == nullptr || !(sel->is(TypeId::integer) || sel->is(TypeId::float_) || sel->is(TypeId::percent)))
        return 0.1;
    return std::clamp(units::ratio_of(*sel), 0.0, 1.0);
}

void on_scrolled(GtkRange* range, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(range));
    if (quiet() || widget == 0) return;
    set_data_ratio(widget, gtk_range_get_value(range) / scroll_range);
    send(widget, event::Type::change);
}

GtkWidget* make_scroller(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkAdjustment* a = gtk_adjustment_new(0, 0, scroll_range, 1, 10, 10);
    GtkWidget* bar = gtk_scrollbar_new(upright(spec) ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, a);
    g_signal_connect(bar, "value-changed", G_CALLBACK(on_scrolled), nullptr);
    return bar;
}

void apply_scroller(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkRange* range = GTK_RANGE(native(widget));
    GtkAdjustment* a = gtk_range_get_adjustment(range);
    const bool made = bits == all_facets;
    if ((bits & widgets::change_bit(Facet::selected)) != 0) {
        const double page = page_of(face);
        gtk_adjustment_set_page_size(a, std::round(page * scroll_range));
        gtk_adjustment_set_page_increment(a, std::max(1.0, std::round(page * scroll_range)));
        if (made) {  // the page is kept as a percent!, the position starts at the top
            Cell value{};
            percent::make_at(value, page);
            set_facet(face, Facet::selected, value);
            Cell top{};
            float_::make_at(top, 0.0);
            set_facet(face, Facet::data, top);
        }
    }
    if (!made && (bits & widgets::change_bit(Facet::data)) != 0) {
        const Cell* d = widgets::facet(face, Facet::data);
        if (d != nullptr && d->is(TypeId::float_))
            gtk_range_set_value(range, std::trunc(std::clamp(d->f64(), 0.0, 1.0) * scroll_range));
    }
}

// --- calendar -----------------------------------------------------------------------

std::int32_t clamp_year(std::int32_t year) { return std::clamp(year, 1601, 9999); }

// The calendar's day into `data` (a date! without time).
void read_date(std::int32_t widget) {
    Cell face{};
    if (!widgets::face_of(widget, face)) return;
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(GTK_CALENDAR(native(widget)), &year, &month, &day);
    Cell value{};
    date::make_at(value, clamp_year(static_cast<std::int32_t>(year)), static_cast<std::int32_t>(month) + 1,
                  std::max<std::int32_t>(1, static_cast<std::int32_t>(day)), 0, 0, false);
    set_facet(face, Facet::data, value);
}

void on_day_selected(GtkCalendar* calendar, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(calendar));
    if (quiet() || widget == 0) return;
    read_date(widget);
    send(widget, event::Type::change);
}

GtkWidget* make_calendar(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* calendar = gtk_calendar_new();
    gtk_calendar_set_display_options(GTK_CALENDAR(calendar),
                                     static_cast<GtkCalendarDisplayOptions>(GTK_CALENDAR_SHOW_HEADING |
                                                                            GTK_CALENDAR_SHOW_DAY_NAMES));
    g_signal_connect(calendar, "day-selected", G_CALLBACK(on_day_selected), nullptr);
    return calendar;
}

void apply_calendar(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    auto* calendar = GTK_CALENDAR(native(widget));
    if ((bits & widgets::change_bit(Facet::data)) != 0) {
        const Cell* d = widgets::facet(face, Facet::data);
        if (d != nullptr && d->is(TypeId::date)) {
            const std::int32_t year = clamp_year(d->date_year());
            gtk_calendar_select_month(calendar, static_cast<guint>(d->date_month() - 1), static_cast<guint>(year));
            gtk_calendar_select_day(calendar, static_cast<guint>(d->date_day()));
        } else {
            read_date(widget);
        }
    }
    if ((bits & widgets::change_bit(Facet::color)) != 0) set_widget_colours(GTK_WIDGET(calendar), face);
}

bool no_text(std::int32_t, std::int32_t, std::string&) { return false; }

}  // namespace

const Kind progress_kind{make_progress, apply_progress, no_text};
const Kind slider_kind{make_slider, apply_slider, no_text};
const Kind scroller_kind{make_scroller, apply_scroller, no_text};
const Kind calendar_kind{make_calendar, apply_calendar, no_text};

}  // namespace kiv::gtk_faces
