// update-assistant on Linux: GLib's default main context runs the loop (the GTK card shares it),
// a std::thread is the install worker.
#include "arguments.h"
#include "child_programs.h"
#include "system_operations.h"
#include "update_assistant.h"

#include <glib.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef UPDATER_FAULT_INJECTION
// Test builds only: wraps the system operations with the faults that the environment asks for.
std::unique_ptr<InstallOperations> withInjectedFaults(std::unique_ptr<InstallOperations> real);
#endif

namespace {

// Owns the GMainLoop; the worker is joined once the loop has ended.
class GlibMainLoop final : public MainLoop {
  public:
    GlibMainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}
    ~GlibMainLoop() override {
        if (worker_.joinable()) worker_.join();
        g_main_loop_unref(loop_);
    }
    GlibMainLoop(const GlibMainLoop&) = delete;
    GlibMainLoop& operator=(const GlibMainLoop&) = delete;

    void run() { g_main_loop_run(loop_); }

    void startWorker(std::function<void()> task) override {
        try {
            worker_ = std::thread(task);
        } catch (...) {
            // No thread to be had: the work is done here, and the loop catches up afterwards.
            task();
        }
    }

    // May be called from any thread (GLib sources attach safely). The card's text changes were
    // handed to the same context earlier, so they are applied long before the timeout fires.
    void terminateAfter(double seconds) override {
        g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(seconds * 1000.0), quit, loop_,
                           nullptr);
    }

    void join() {
        if (worker_.joinable()) worker_.join();
    }

  private:
    static gboolean quit(gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
    }

    GMainLoop* loop_;
    std::thread worker_;
};

gboolean finishLaunching(gpointer assistant) {
    static_cast<UpdateAssistant*>(assistant)->applicationDidFinishLaunching();
    return G_SOURCE_REMOVE;
}

int runAssistant(const std::vector<std::string>& args) {
    detachFromSession();
    GlibMainLoop mainLoop;
    std::unique_ptr<StatusCard> card = makePlatformCard();
    if (!card) card = makeHeadlessCard();
    std::unique_ptr<InstallOperations> operations = makeSystemOperations();
#ifdef UPDATER_FAULT_INJECTION
    operations = withInjectedFaults(std::move(operations));
#endif
    UpdateAssistant assistant(args, currentDirectory(), std::move(card),
                              {*operations, mainLoop, builtChildPrograms()});
    // Launch runs on the main thread once the loop is running.
    g_idle_add_full(G_PRIORITY_DEFAULT, finishLaunching, &assistant, nullptr);
    mainLoop.run();
    mainLoop.join();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The count is checked before anything that could throw, so that 2 means only that.
    if (argc != static_cast<int>(expectedArgumentCount)) return 2;
    return exitStatusOf([&] { return runAssistant(std::vector<std::string>(argv, argv + argc)); });
}
