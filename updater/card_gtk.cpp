// The status card on a Linux desktop, drawn with GTK 3 from the portable card model: a popup
// window in the lower right corner of the primary monitor's work area with the rounded card, three
// labels and an indeterminate bar. All GTK calls run on the main thread (GLib's default context);
// setStatus only hands its texts to that context.
#include "card_bar_gtk.h"
#include "card_model.h"
#include "status_card.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace {

using card::Element;
using card::Rect;
using card::Rgb;

// Room around the card for its shadow when a compositor draws transparency.
constexpr int shadowMargin = 24;
constexpr int shadowOffsetY = 6;
// One sweep of the bar's moving segment, and the segment's share of the bar's width.
constexpr double barSweepSeconds = 1.2;
constexpr double barSegmentShare = 0.3;

struct RegionDeleter {
    void operator()(cairo_region_t* region) const { cairo_region_destroy(region); }
};
using RegionPtr = std::unique_ptr<cairo_region_t, RegionDeleter>;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, ObjectDeleter>;

void setSource(cairo_t* cr, Rgb colour, double alpha = 1.0) {
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, alpha);
}

void roundedRectangle(cairo_t* cr, double x, double y, double width, double height, double radius) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + width - radius, y + radius, radius, -G_PI / 2, 0);
    cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, G_PI / 2);
    cairo_arc(cr, x + radius, y + height - radius, radius, G_PI / 2, G_PI);
    cairo_arc(cr, x + radius, y + radius, radius, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

// What the drawing callbacks need; lives as long as the window.
struct CardLook {
    card::ColourSet colours;
    int margin = 0; // 0 without a compositor: the window is exactly the card
};

void drawShadow(cairo_t* cr, const CardLook& look) {
    // A soft shadow from stacked, growing rounded rectangles of low alpha.
    constexpr int layers = 12;
    for (int layer = layers; layer >= 1; --layer) {
        const double grow = layer * 1.5;
        roundedRectangle(cr, look.margin - grow, look.margin + shadowOffsetY - grow,
                         card::contentWidth + 2 * grow, card::contentHeight + 2 * grow,
                         card::cornerRadius + grow);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.022);
        cairo_fill(cr);
    }
}

// Draws the transparent surround (with a compositor), the card and its 1-pixel border; the
// labels and the bar are drawn afterwards by GTK as children.
gboolean drawCard(GtkWidget*, cairo_t* cr, gpointer data) {
    const auto& look = *static_cast<const CardLook*>(data);
    if (look.margin > 0) {
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        drawShadow(cr, look);
    }
    const double half = card::borderWidth / 2;
    roundedRectangle(cr, look.margin + half, look.margin + half, card::contentWidth - 2 * half,
                     card::contentHeight - 2 * half, card::cornerRadius - half);
    setSource(cr, look.colours.card);
    cairo_fill_preserve(cr);
    setSource(cr, look.colours.border);
    cairo_set_line_width(cr, card::borderWidth);
    cairo_stroke(cr);
    return FALSE;
}

// The bar, positioned by the frame clock.
gboolean drawBar(GtkWidget* bar, cairo_t* cr, gpointer data) {
    const auto& look = *static_cast<const CardLook*>(data);
    GdkFrameClock* clock = gtk_widget_get_frame_clock(bar);
    const double seconds = clock ? gdk_frame_clock_get_frame_time(clock) / 1e6 : 0.0;
    const double phase = std::fmod(seconds, barSweepSeconds) / barSweepSeconds;
    drawCardBar(cr, gtk_widget_get_allocated_width(bar), gtk_widget_get_allocated_height(bar),
                phase, look.colours);
    return FALSE;
}

gboolean animateBar(GtkWidget* bar, GdkFrameClock*, gpointer) {
    gtk_widget_queue_draw(bar);
    return G_SOURCE_CONTINUE;
}

// The card's region inside the window, for the shape mask (no compositor) or the input shape.
RegionPtr cardRegion(int windowWidth, int windowHeight, int margin) {
    SurfacePtr mask(cairo_image_surface_create(CAIRO_FORMAT_A1, windowWidth, windowHeight));
    cairo_t* cr = cairo_create(mask.get());
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    roundedRectangle(cr, margin, margin, card::contentWidth, card::contentHeight,
                     card::cornerRadius);
    cairo_fill(cr);
    cairo_destroy(cr);
    return RegionPtr(gdk_cairo_region_create_from_surface(mask.get()));
}

// The CSS for one label from the model: font, size in pixels (one point is one pixel) and colour.
std::string labelStyle(const char* name, Element element, const card::ColourSet& colours) {
    const card::Font font = fontOf(element).value_or(card::Font{});
    const Rgb colour = textColour(colours, textRoleOf(element).value_or(card::TextRole::primary));
    char css[512];
    std::snprintf(css, sizeof css,
                  "#%s { font-family: Inter, sans-serif; font-size: %gpx; font-weight: %d;"
                  " color: rgb(%d, %d, %d); padding: 0; margin: 0; background: none; }\n",
                  name, font.size, static_cast<int>(font.weight),
                  static_cast<int>(std::lround(colour.red * 255)),
                  static_cast<int>(std::lround(colour.green * 255)),
                  static_cast<int>(std::lround(colour.blue * 255)));
    return css;
}

GtkWidget* makeLabel(GtkFixed* fixed, const char* name, Element element, GtkCssProvider* provider,
                     int margin) {
    const std::string text(initialTextOf(element).value_or(""));
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_widget_set_name(label, name);
    gtk_style_context_add_provider(gtk_widget_get_style_context(label),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    // Pinned width: without a small maximum the label asks for its whole text's width.
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    const Rect frame = card::frameTopLeft(element);
    gtk_widget_set_size_request(label, static_cast<int>(frame.width),
                                static_cast<int>(frame.height));
    gtk_fixed_put(fixed, label, margin + static_cast<int>(frame.x),
                  margin + static_cast<int>(frame.y));
    return label;
}

card::Appearance desktopAppearance() {
    gboolean prefersDark = FALSE;
    gchar* settingsTheme = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &prefersDark,
                 "gtk-theme-name", &settingsTheme, nullptr);
    // GTK_THEME replaces the configured theme for this process, so it is the one in force.
    const gchar* forced = g_getenv("GTK_THEME");
    const std::string theme = forced && *forced ? forced : settingsTheme ? settingsTheme : "";
    g_free(settingsTheme);
    return card::appearanceFromDesktop(prefersDark, theme);
}

// The primary monitor's work area (without panels) in root coordinates, and the root height.
std::pair<std::optional<Rect>, double> workArea(GdkScreen* screen) {
    GdkDisplay* display = gdk_screen_get_display(screen);
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    const double rootHeight = gdk_window_get_height(gdk_screen_get_root_window(screen));
    if (!monitor) return {std::nullopt, rootHeight};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {Rect{static_cast<double>(area.x), static_cast<double>(area.y),
                 static_cast<double>(area.width), static_cast<double>(area.height)},
            rootHeight};
}

// Texts on their way to the labels. Callers on any thread append; one idle source on the main
// context applies everything pending in call order. Shared with that source so that a late
// source never reaches a destroyed card.
class StatusMailbox : public std::enable_shared_from_this<StatusMailbox> {
  public:
    StatusMailbox(GtkWidget* headline, GtkWidget* detail)
        : headline_(GTK_LABEL(g_object_ref(headline))), detail_(GTK_LABEL(g_object_ref(detail))) {}

    void post(std::string headline, std::string detail) {
        std::lock_guard lock(mutex_);
        pending_.emplace_back(std::move(headline), std::move(detail));
        if (scheduled_) return;
        // Default priority, like the loop's termination timer, so texts posted before it are
        // applied first; new sources of one priority run in the order they were added.
        auto self = std::make_unique<std::shared_ptr<StatusMailbox>>(shared_from_this());
        g_idle_add_full(G_PRIORITY_DEFAULT, deliver, self.release(), release);
        scheduled_ = true;
    }

  private:
    static gboolean deliver(gpointer data) {
        (*static_cast<std::shared_ptr<StatusMailbox>*>(data))->applyPending();
        return G_SOURCE_REMOVE;
    }
    static void release(gpointer data) {
        delete static_cast<std::shared_ptr<StatusMailbox>*>(data);
    }

    void applyPending() {
        std::deque<std::pair<std::string, std::string>> taken;
        {
            std::lock_guard lock(mutex_);
            taken.swap(pending_);
            scheduled_ = false;
        }
        for (const auto& [headline, detail] : taken) {
            gtk_label_set_text(headline_.get(), headline.c_str());
            gtk_label_set_text(detail_.get(), detail.c_str());
        }
    }

    ObjectPtr<GtkLabel> headline_;
    ObjectPtr<GtkLabel> detail_;
    std::mutex mutex_;
    std::deque<std::pair<std::string, std::string>> pending_;
    bool scheduled_ = false;
};

class GtkCard final : public StatusCard {
  public:
    GtkCard() { build(); }
    GtkCard(const GtkCard&) = delete;
    GtkCard& operator=(const GtkCard&) = delete;
    // Main thread. The window stays until the process ends; this only lets go of it.
    ~GtkCard() override { gtk_widget_destroy(window_); }

    void show() override { gtk_widget_show_all(window_); }

    void setStatus(std::string headline, std::string detail) override {
        try {
            mailbox_->post(std::move(headline), std::move(detail));
        } catch (...) {
            // Out of memory: the change is lost, the card keeps its last texts.
        }
    }

  private:
    void build();
    void buildWindow(GdkScreen* screen);
    void buildContent();

    CardLook look_;
    GtkWidget* window_ = nullptr;
    std::shared_ptr<StatusMailbox> mailbox_;
};

void GtkCard::build() {
    GdkScreen* screen = gdk_screen_get_default();
    look_.colours = card::colours(desktopAppearance());
    buildWindow(screen);
    buildContent();
}

void GtkCard::buildWindow(GdkScreen* screen) {
    GdkVisual* rgba = gdk_screen_get_rgba_visual(screen);
    const bool composited = rgba && gdk_screen_is_composited(screen);
    look_.margin = composited ? shadowMargin : 0;
    const int width = static_cast<int>(card::contentWidth) + 2 * look_.margin;
    const int height = static_cast<int>(card::contentHeight) + 2 * look_.margin;

    window_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_NOTIFICATION);
    gtk_window_set_accept_focus(GTK_WINDOW(window_), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_widget_set_app_paintable(window_, TRUE);
    if (composited) gtk_widget_set_visual(window_, rgba);
    gtk_widget_set_size_request(window_, width, height);

    const auto [area, rootHeight] = workArea(screen);
    const Rect place = card::placementTopLeft(area, rootHeight);
    gtk_window_move(GTK_WINDOW(window_), static_cast<int>(place.x) - look_.margin,
                    static_cast<int>(place.y) - look_.margin);

    // Only the card takes pointer input; without a compositor the mask also cuts the corners.
    const RegionPtr region = cardRegion(width, height, look_.margin);
    if (!composited) gtk_widget_shape_combine_region(window_, region.get());
    gtk_widget_input_shape_combine_region(window_, region.get());
    g_signal_connect(window_, "draw", G_CALLBACK(drawCard), &look_);
}

void GtkCard::buildContent() {
    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed);

    const std::string css = labelStyle("card-caption", Element::caption, look_.colours) +
                            labelStyle("card-headline", Element::headline, look_.colours) +
                            labelStyle("card-detail", Element::detail, look_.colours);
    const ObjectPtr<GtkCssProvider> provider(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(), css.c_str(), -1, nullptr);

    auto* layout = GTK_FIXED(fixed);
    makeLabel(layout, "card-caption", Element::caption, provider.get(), look_.margin);
    GtkWidget* headline =
        makeLabel(layout, "card-headline", Element::headline, provider.get(), look_.margin);
    GtkWidget* detail =
        makeLabel(layout, "card-detail", Element::detail, provider.get(), look_.margin);

    GtkWidget* bar = gtk_drawing_area_new();
    const Rect frame = card::frameTopLeft(Element::bar);
    gtk_widget_set_size_request(bar, static_cast<int>(frame.width), static_cast<int>(frame.height));
    g_signal_connect(bar, "draw", G_CALLBACK(drawBar), &look_);
    gtk_widget_add_tick_callback(bar, animateBar, nullptr, nullptr);
    gtk_fixed_put(layout, bar, look_.margin + static_cast<int>(frame.x),
                  look_.margin + static_cast<int>(frame.y));

    mailbox_ = std::make_shared<StatusMailbox>(headline, detail);
}

} // namespace

void drawCardBar(cairo_t* cr, double width, double height, double phase,
                 const card::ColourSet& colours) {
    cairo_save(cr);
    // The track's colour with the segment on it, painted through the track's rounded shape in
    // one step, so the segment rounds off with the track's ends and nothing shows outside them.
    cairo_push_group(cr);
    cairo_rectangle(cr, 0, 0, width, height);
    setSource(cr, colours.border);
    cairo_fill(cr);
    const double segment = width * barSegmentShare;
    const double left = -segment + phase * (width + segment);
    roundedRectangle(cr, left, 0, segment, height, height / 2);
    setSource(cr, colours.secondary);
    cairo_fill(cr);
    cairo_pop_group_to_source(cr);
    roundedRectangle(cr, 0, 0, width, height, height / 2);
    cairo_fill(cr);
    cairo_restore(cr);
}

std::unique_ptr<StatusCard> makePlatformCard() {
    try {
        // The card draws with cairo only. Without this, the first GTK program on an X server
        // loads the GL stack to pick visuals: about 80 MiB and 0.2 s more for a 27 MiB card.
        g_setenv("GDK_GL", "disable", FALSE);
        if (!gtk_init_check(nullptr, nullptr)) return nullptr; // no display: stay headless
        return std::make_unique<GtkCard>();
    } catch (...) {
        return nullptr;
    }
}
