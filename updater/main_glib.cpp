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
#include <unistd.h>
#include <vector>

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

// This executable's path, or "" when it cannot be had.
std::string executablePath() {
    std::string executable(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", executable.data(), executable.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= executable.size()) return "";
    executable.resize(static_cast<std::size_t>(length));
    return executable;
}

gboolean finishLaunching(gpointer assistant) {
    static_cast<UpdateAssistant*>(assistant)->applicationDidFinishLaunching();
    return G_SOURCE_REMOVE;
}

int runAssistant(const std::vector<std::string>& args) {
    detachFromSession();
    GlibMainLoop mainLoop;
    // Made first: the child programs get the environment as it is now, before the card sets
    // anything of its own.
    std::unique_ptr<InstallOperations> operations = makeAssistantOperations();
    std::unique_ptr<StatusCard> card = makePlatformCard();
    if (!card) card = makeHeadlessCard();
    UpdateAssistant assistant(
        args, currentDirectory(), std::move(card),
        {*operations, mainLoop, locatedBeside(builtChildPrograms(), executablePath())});
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
