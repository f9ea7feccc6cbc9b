// Test driver: shows the platform card, hands the given texts to it from a background thread
// (in order, one pair after another), and ends after the given number of seconds.
//   card-demo SECONDS [HEADLINE DETAIL]...
#include "status_card.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

gboolean quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: card-demo SECONDS [HEADLINE DETAIL]...\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const std::vector<std::string> texts(argv + 2, argv + argc);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    std::unique_ptr<StatusCard> card = makePlatformCard();
    if (!card) {
        std::fprintf(stderr, "card-demo: no display\n");
        return 1;
    }
    card->show();
    std::thread worker([&] {
        for (std::size_t i = 0; i + 1 < texts.size(); i += 2)
            card->setStatus(texts[i], texts[i + 1]);
    });
    g_timeout_add(static_cast<guint>(seconds * 1000), quit, loop);
    g_main_loop_run(loop);
    worker.join();
    card.reset();
    g_main_loop_unref(loop);
    return 0;
}
