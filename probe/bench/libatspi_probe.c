/* The same focus search and selection read as selection-probe, through libatspi, for comparing
 * the two ways of talking to AT-SPI. Prints the selection's character range and text. */

#include <atspi/atspi.h>
#include <stdio.h>

static AtspiAccessible* active_frame(AtspiAccessible* desktop) {
    gint apps = atspi_accessible_get_child_count(desktop, NULL);
    for (gint a = 0; a < apps; ++a) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, a, NULL);
        if (!app) continue;
        gint frames = atspi_accessible_get_child_count(app, NULL);
        for (gint f = 0; f < frames; ++f) {
            AtspiAccessible* frame = atspi_accessible_get_child_at_index(app, f, NULL);
            if (!frame) continue;
            AtspiStateSet* states = atspi_accessible_get_state_set(frame);
            gboolean active = atspi_state_set_contains(states, ATSPI_STATE_ACTIVE);
            g_object_unref(states);
            if (active) {
                g_object_unref(app);
                return frame;
            }
            g_object_unref(frame);
        }
        g_object_unref(app);
    }
    return NULL;
}

static AtspiAccessible* focused_in(AtspiAccessible* frame) {
    AtspiCollection* collection = atspi_accessible_get_collection_iface(frame);
    if (!collection) return NULL;
    AtspiStateSet* focused = atspi_state_set_new(NULL);
    atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* rule = atspi_match_rule_new(
        focused, ATSPI_Collection_MATCH_ALL, NULL, ATSPI_Collection_MATCH_ALL, NULL,
        ATSPI_Collection_MATCH_ALL, NULL, ATSPI_Collection_MATCH_ALL, FALSE);
    GArray* matches = atspi_collection_get_matches(
        collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, NULL);
    AtspiAccessible* found = NULL;
    if (matches && matches->len > 0)
        found = g_object_ref(g_array_index(matches, AtspiAccessible*, 0));
    if (matches) {
        for (guint i = 0; i < matches->len; ++i)
            g_object_unref(g_array_index(matches, AtspiAccessible*, i));
        g_array_free(matches, TRUE);
    }
    g_object_unref(rule);
    g_object_unref(focused);
    g_object_unref(collection);
    return found;
}

int main(void) {
    if (atspi_init() > 1) {
        fputs("{}", stdout);
        return 0;
    }
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* frame = desktop ? active_frame(desktop) : NULL;
    AtspiAccessible* focused = frame ? focused_in(frame) : NULL;
    AtspiText* text = focused ? atspi_accessible_get_text_iface(focused) : NULL;
    if (text) {
        AtspiRange* range = atspi_text_get_selection(text, 0, NULL);
        gchar* selected =
            range ? atspi_text_get_text(text, range->start_offset, range->end_offset, NULL) : NULL;
        printf("{\"start\":%d,\"end\":%d,\"text\":\"%s\"}", range ? range->start_offset : -1,
               range ? range->end_offset : -1, selected ? selected : "");
        g_free(selected);
        g_free(range);
        g_object_unref(text);
    } else {
        fputs("{}", stdout);
    }
    if (focused) g_object_unref(focused);
    if (frame) g_object_unref(frame);
    if (desktop) g_object_unref(desktop);
    return 0;
}
