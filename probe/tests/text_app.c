/* A GTK 3 window with one focused entry or text view holding a selection set in code.
 * Prints "ready" on standard output once its window has the focus and the selection is set;
 * quits on SIGTERM or SIGINT and, when its standard input is a pipe or socket, when that closes
 * (started as an application, with /dev/null there, it stays until it is ended).
 *
 *   probe_text_app [--view entry|text] [--text TEXT] [--repeat N] [--start N] [--end N]
 *                  [--extra N] [--left X] [--top Y] [--password] [--title TITLE]
 * Offsets are in characters; --end -1 means the end of the text. --extra adds N labels, each
 * an accessible object, for measuring a large application. */

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

static gchar* view_kind = NULL;
static gchar* text = NULL;
static gint repeat = 1;
static gint start = 0;
static gint end = 0;
static gint extra = 0;
static gint left = 100;
static gint top = 80;
static gboolean password = FALSE;
static gchar* title = NULL;

static GOptionEntry options[] = {
    {"view", 0, 0, G_OPTION_ARG_STRING, &view_kind, "entry (default) or text", "KIND"},
    {"text", 0, 0, G_OPTION_ARG_STRING, &text, "the text", "TEXT"},
    {"repeat", 0, 0, G_OPTION_ARG_INT, &repeat, "repeat the text this many times", "N"},
    {"start", 0, 0, G_OPTION_ARG_INT, &start, "selection start, in characters", "N"},
    {"end", 0, 0, G_OPTION_ARG_INT, &end, "selection end, in characters (-1: end of text)", "N"},
    {"extra", 0, 0, G_OPTION_ARG_INT, &extra, "number of extra labels", "N"},
    {"left", 0, 0, G_OPTION_ARG_INT, &left, "window position on the screen (default 100)", "X"},
    {"top", 0, 0, G_OPTION_ARG_INT, &top, "window position on the screen (default 80)", "Y"},
    {"password", 0, 0, G_OPTION_ARG_NONE, &password, "the entry hides its text", NULL},
    {"title", 0, 0, G_OPTION_ARG_STRING, &title, "window title (default: Selection test)", "TITLE"},
    {NULL, 0, 0, 0, NULL, NULL, NULL}};

static GtkWidget* editor = NULL;
static gboolean announced = FALSE;

static void select_in_editor(void) {
    gtk_widget_grab_focus(editor);
    if (GTK_IS_ENTRY(editor)) {
        gtk_editable_select_region(GTK_EDITABLE(editor), start, end);
        return;
    }
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor));
    GtkTextIter from, to;
    gtk_text_buffer_get_iter_at_offset(buffer, &from, start);
    gtk_text_buffer_get_iter_at_offset(buffer, &to, end);
    gtk_text_buffer_select_range(buffer, &to, &from);
}

static void on_active(GtkWindow* window, GParamSpec* pspec, gpointer data) {
    (void)pspec;
    (void)data;
    if (announced || !gtk_window_is_active(window)) return;
    select_in_editor();
    announced = TRUE;
    fputs("ready\n", stdout);
    fflush(stdout);
}

static gboolean on_mapped(GtkWidget* window, GdkEvent* event, gpointer data) {
    (void)event;
    (void)data;
    /* Without a window manager nothing else gives the window the keyboard focus. */
    gdk_window_focus(gtk_widget_get_window(window), GDK_CURRENT_TIME);
    return FALSE;
}

static gboolean on_signal(gpointer data) {
    (void)data;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

static gboolean on_input(GIOChannel* channel, GIOCondition condition, gpointer data) {
    (void)data;
    gchar buffer[256];
    gsize got = 0;
    if (condition & G_IO_IN) {
        GIOStatus status = g_io_channel_read_chars(channel, buffer, sizeof buffer, &got, NULL);
        if (status == G_IO_STATUS_NORMAL || status == G_IO_STATUS_AGAIN) return G_SOURCE_CONTINUE;
    }
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

static gchar* repeated_text(void) {
    GString* all = g_string_new(NULL);
    for (gint i = 0; i < repeat; ++i)
        g_string_append(all, text ? text : "");
    return g_string_free(all, FALSE);
}

static GtkWidget* make_editor(const gchar* content) {
    if (view_kind && strcmp(view_kind, "text") == 0) {
        editor = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(editor), GTK_WRAP_WORD_CHAR);
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor)), content, -1);
        GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
        gtk_widget_set_vexpand(scroller, TRUE);
        gtk_container_add(GTK_CONTAINER(scroller), editor);
        return scroller;
    }
    editor = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(editor), content);
    gtk_entry_set_visibility(GTK_ENTRY(editor), !password);
    return editor;
}

static GtkWidget* make_extras(void) {
    GtkWidget* list = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    for (gint i = 0; i < extra; ++i) {
        gchar name[32];
        g_snprintf(name, sizeof name, "item %d", i);
        gtk_box_pack_start(GTK_BOX(list), gtk_label_new(name), FALSE, FALSE, 0);
    }
    GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
    gtk_widget_set_size_request(scroller, -1, 200);
    gtk_container_add(GTK_CONTAINER(scroller), list);
    return scroller;
}

int main(int argc, char** argv) {
    GError* error = NULL;
    if (!gtk_init_with_args(&argc, &argv, "- selection test window", options, NULL, &error)) {
        fprintf(stderr, "probe_text_app: %s\n", error ? error->message : "cannot start");
        return 2;
    }
    gchar* content = repeated_text();
    if (end < 0) end = (gint)g_utf8_strlen(content, -1);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title ? title : "Selection test");
    gtk_window_set_default_size(GTK_WINDOW(window), 640, 400);
    /* Without a window manager the requested position is where the window appears. */
    gtk_window_move(GTK_WINDOW(window), left, top);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    GtkWidget* edited = make_editor(content);
    gtk_box_pack_start(GTK_BOX(column), edited, GTK_IS_ENTRY(edited) ? FALSE : TRUE, TRUE, 0);
    if (extra > 0) gtk_box_pack_start(GTK_BOX(column), make_extras(), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), column);
    g_free(content);

    g_signal_connect(window, "map-event", G_CALLBACK(on_mapped), NULL);
    g_signal_connect(window, "notify::is-active", G_CALLBACK(on_active), NULL);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    g_unix_signal_add(SIGTERM, on_signal, NULL);
    g_unix_signal_add(SIGINT, on_signal, NULL);
    struct stat input_kind;
    GIOChannel* input = NULL;
    if (fstat(0, &input_kind) == 0 &&
        (S_ISFIFO(input_kind.st_mode) || S_ISSOCK(input_kind.st_mode))) {
        input = g_io_channel_unix_new(0);
        g_io_channel_set_encoding(input, NULL, NULL);
        g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, on_input, NULL);
    }

    gtk_widget_show_all(window);
    gtk_main();
    if (input) g_io_channel_unref(input);
    return 0;
}
