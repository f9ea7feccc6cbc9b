// The GTK card in this process, on the private X server that the test runs under. The widgets
// are found through GTK itself (toplevel list, widget names), not through the card's insides.
#include "card_bar_gtk.h"
#include "status_card.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs the default main context until the condition holds; false after a generous 60 s, so a
// broken card fails instead of hanging.
bool iterateUntil(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        g_main_context_iteration(nullptr, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

GtkWidget* findNamed(GtkWidget* widget, const std::string& name) {
    if (gtk_widget_get_name(widget) == name) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next) {
        found = findNamed(GTK_WIDGET(c->data), name);
    }
    g_list_free(children);
    return found;
}

class GtkCardTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under with-display)";
        card_ = makePlatformCard();
        ASSERT_NE(card_, nullptr);
        card_->show();
        ASSERT_TRUE(iterateUntil([this] { return (window_ = cardWindow()) != nullptr; }));
        ASSERT_TRUE(iterateUntil([this] { return gtk_widget_get_mapped(window_); }));
    }

    static GtkWidget* cardWindow() {
        GList* toplevels = gtk_window_list_toplevels();
        GtkWidget* found = nullptr;
        for (GList* t = toplevels; t && !found; t = t->next) {
            if (gtk_widget_get_visible(GTK_WIDGET(t->data))) found = GTK_WIDGET(t->data);
        }
        g_list_free(toplevels);
        return found;
    }

    GtkLabel* label(const char* name) {
        GtkWidget* w = findNamed(window_, name);
        return w && GTK_IS_LABEL(w) ? GTK_LABEL(w) : nullptr;
    }

    std::unique_ptr<StatusCard> card_;
    GtkWidget* window_ = nullptr;
};

TEST_F(GtkCardTest, IsAPopupAtThePlacementWithoutCompositor) {
    if (gdk_screen_is_composited(gdk_screen_get_default())) GTEST_SKIP() << "compositor runs";
    EXPECT_EQ(gtk_window_get_window_type(GTK_WINDOW(window_)), GTK_WINDOW_POPUP);
    int x = 0, y = 0;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    gdk_window_get_origin(gdkWindow, &x, &y);
    EXPECT_EQ(x, 1058);
    EXPECT_EQ(y, 754);
    EXPECT_EQ(gdk_window_get_width(gdkWindow), 360);
    EXPECT_EQ(gdk_window_get_height(gdkWindow), 124);
}

TEST_F(GtkCardTest, ShowsTheInitialTexts) {
    ASSERT_NE(label("card-caption"), nullptr);
    EXPECT_STREQ(gtk_label_get_text(label("card-caption")), "ORLAVO  \xC2\xB7  PREVIEW");
    EXPECT_STREQ(gtk_label_get_text(label("card-headline")), "Installing update");
    EXPECT_STREQ(gtk_label_get_text(label("card-detail")), "Orlavo will reopen when it is ready.");
}

void recordText(GObject* label, GParamSpec*, gpointer seen) {
    static_cast<std::vector<std::string>*>(seen)->push_back(gtk_label_get_text(GTK_LABEL(label)));
}

TEST_F(GtkCardTest, ChangesFromAnotherThreadApplyInCallOrderWithoutWaiting) {
    GtkLabel* headline = label("card-headline");
    GtkLabel* detail = label("card-detail");
    ASSERT_NE(headline, nullptr);
    std::vector<std::string> seen;
    g_signal_connect(headline, "notify::label", G_CALLBACK(recordText), &seen);
    constexpr int calls = 200;
    // The main loop is not iterated while the worker posts: setStatus must not wait for it.
    std::thread worker([this] {
        for (int i = 0; i < calls; ++i) {
            card_->setStatus("headline " + std::to_string(i), "detail " + std::to_string(i));
        }
    });
    worker.join();
    ASSERT_TRUE(iterateUntil([&] { return seen.size() >= calls; }));
    for (int i = 0; i < calls; ++i)
        EXPECT_EQ(seen[i], "headline " + std::to_string(i));
    EXPECT_STREQ(gtk_label_get_text(detail), "detail 199");
    g_signal_handlers_disconnect_by_data(headline, &seen);
}

TEST_F(GtkCardTest, LongTextsStayOnOneLineEllipsizedInTheirFrame) {
    const std::string longText(200, 'W');
    card_->setStatus(longText, longText);
    GtkLabel* headline = label("card-headline");
    GtkLabel* detail = label("card-detail");
    ASSERT_TRUE(iterateUntil([&] { return gtk_label_get_text(headline) == longText; }));
    ASSERT_TRUE(iterateUntil([&] { return gtk_label_get_text(detail) == longText; }));
    // Let the new texts be laid out before looking at the layouts.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    for (GtkLabel* l : {headline, detail}) {
        EXPECT_EQ(gtk_widget_get_allocated_width(GTK_WIDGET(l)), 320);
        PangoLayout* layout = gtk_label_get_layout(l);
        EXPECT_TRUE(pango_layout_is_ellipsized(layout));
        EXPECT_EQ(pango_layout_get_line_count(layout), 1);
    }
}

struct FontCase {
    const char* name;
    int pixels;
    PangoWeight weight;
};

TEST_F(GtkCardTest, LabelsUseTheCardFontsInPixels) {
    const FontCase cases[] = {{"card-caption", 10, PANGO_WEIGHT_BOLD},
                              {"card-headline", 17, PANGO_WEIGHT_SEMIBOLD},
                              {"card-detail", 12, PANGO_WEIGHT_NORMAL}};
    for (const FontCase& c : cases) {
        SCOPED_TRACE(c.name);
        GtkLabel* l = label(c.name);
        ASSERT_NE(l, nullptr);
        GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(l));
        PangoFontDescription* font = nullptr;
        gtk_style_context_get(style, gtk_style_context_get_state(style), "font", &font, nullptr);
        ASSERT_NE(font, nullptr);
        // GTK keeps CSS sizes in points; at the screen's resolution they must give the pixels.
        double pixels = pango_font_description_get_size(font) / double(PANGO_SCALE);
        if (!pango_font_description_get_size_is_absolute(font)) {
            pixels *= gdk_screen_get_resolution(gdk_screen_get_default()) / 72.0;
        }
        EXPECT_NEAR(pixels, c.pixels, 0.01);
        EXPECT_EQ(pango_font_description_get_weight(font), c.weight);
        EXPECT_NE(std::string(pango_font_description_get_family(font)).find("Inter"),
                  std::string::npos);
        pango_font_description_free(font);
    }
}

// The bar in pixels, over a whole sweep: how far a pixel may move away from the card colour is
// bounded by how much of it the rounded track covers, so the segment never shows outside the
// track's round ends.
class CardBar : public testing::TestWithParam<card::Appearance> {
  protected:
    static constexpr int width = 322, height = 5;

    struct Image {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        ~Image() { cairo_surface_destroy(surface); }
        // One channel (0 blue, 1 green, 2 red, 3 alpha) of a pixel, 0 to 255.
        int at(int x, int y, int channel) const {
            cairo_surface_flush(surface);
            const unsigned char* row =
                cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
            return row[x * 4 + channel];
        }
    };
};

TEST_P(CardBar, SegmentStaysInsideTheRoundedTrack) {
    const card::ColourSet colours = card::colours(GetParam());
    // How much of each pixel the track covers: its shape alone, opaque on transparent.
    Image track;
    cairo_t* cr = cairo_create(track.surface);
    card::ColourSet white = colours;
    white.border = white.secondary = card::Rgb{1, 1, 1};
    drawCardBar(cr, width, height, 0.0, white);
    cairo_destroy(cr);

    const card::Rgb background = colours.card;
    const double reach[3] = {std::max(std::abs(colours.border.blue - background.blue),
                                      std::abs(colours.secondary.blue - background.blue)),
                             std::max(std::abs(colours.border.green - background.green),
                                      std::abs(colours.secondary.green - background.green)),
                             std::max(std::abs(colours.border.red - background.red),
                                      std::abs(colours.secondary.red - background.red))};
    const double card[3] = {background.blue * 255, background.green * 255, background.red * 255};
    int segmentAtAnEnd = 0;
    for (int step = 0; step <= 120; ++step) {
        Image bar;
        cr = cairo_create(bar.surface);
        cairo_set_source_rgb(cr, background.red, background.green, background.blue);
        cairo_paint(cr);
        drawCardBar(cr, width, height, step / 120.0, colours);
        cairo_destroy(cr);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double coverage = track.at(x, y, 3) / 255.0;
                for (int channel = 0; channel < 3; ++channel) {
                    const double moved = std::abs(bar.at(x, y, channel) - card[channel]);
                    ASSERT_LE(moved, coverage * reach[channel] * 255 + 2)
                        << "phase " << step / 120.0 << " at " << x << "," << y;
                }
            }
        }
        // The sweep does reach both ends: the middle of an end shows the segment colour.
        const int red = static_cast<int>(std::lround(colours.secondary.red * 255));
        if (std::abs(bar.at(1, 2, 2) - red) <= 2 || std::abs(bar.at(width - 2, 2, 2) - red) <= 2)
            ++segmentAtAnEnd;
    }
    EXPECT_GT(segmentAtAnEnd, 0);
}

INSTANTIATE_TEST_SUITE_P(Appearances, CardBar,
                         testing::Values(card::Appearance::light, card::Appearance::dark));

TEST(NoDisplay, GivesNoPlatformCard) {
    if (std::getenv("DISPLAY")) GTEST_SKIP() << "a display is set; this case runs without one";
    EXPECT_EQ(makePlatformCard(), nullptr);
}

} // namespace
