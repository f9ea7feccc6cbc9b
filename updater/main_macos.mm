// update-assistant on macOS: the AppKit application object runs the main loop; the install task
// runs on the global concurrent queue at the user-initiated class; termination is asked of the
// application object on the main queue.
#include "arguments.h"
#include "child_programs.h"
#include "system_operations.h"
#include "update_assistant.h"

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>
#include <mach-o/dyld.h>

#if !__has_feature(objc_arc)
#error "This file relies on ARC: compile it with -fobjc-arc"
#endif

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

class DispatchMainLoop final : public MainLoop {
  public:
    void startWorker(std::function<void()> task) override {
        dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
          task();
        });
    }

    void terminateAfter(double seconds) override {
        const dispatch_time_t when =
            dispatch_time(DISPATCH_TIME_NOW, static_cast<int64_t>(seconds * NSEC_PER_SEC));
        dispatch_after(when, dispatch_get_main_queue(), ^{
          [NSApp terminate:nil];
        });
    }
};

// This executable's path with every link resolved, or "" when it cannot be had.
std::string executablePath() {
    std::vector<char> buffer(PATH_MAX);
    auto size = static_cast<uint32_t>(buffer.size());
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        // The buffer was too small; the size now says what it takes.
        buffer.resize(size);
        if (_NSGetExecutablePath(buffer.data(), &size) != 0) return "";
    }
    char* real = ::realpath(buffer.data(), nullptr);
    if (real == nullptr) return "";
    std::string path(real);
    std::free(real);
    return path;
}

} // namespace

// The application delegate: forwards the one launch notification to the assistant.
@interface AssistantDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithAssistant:(UpdateAssistant*)assistant;
@end

@implementation AssistantDelegate {
    UpdateAssistant* _assistant;
}

- (instancetype)initWithAssistant:(UpdateAssistant*)assistant {
    if ((self = [super init])) _assistant = assistant;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
    _assistant->applicationDidFinishLaunching();
}

@end

namespace {

// Held for the life of the process; the application keeps only a weak reference to its delegate.
AssistantDelegate* assistantDelegate = nil;

int runAssistant(const std::vector<std::string>& args) {
    detachFromSession();
    NSApplication* app = [NSApplication sharedApplication];
    // Taken once at start and held until the process ends; nothing is released at exit.
    auto* mainLoop = new DispatchMainLoop();
    std::unique_ptr<StatusCard> card = makePlatformCard();
    if (!card) card = makeHeadlessCard();
    InstallOperations* operations = makeAssistantOperations().release();
    // A relative child program is found beside the executable, as on Linux: posix_spawn would
    // otherwise take the name against the working directory.
    auto* assistant = new UpdateAssistant(
        args, currentDirectory(), std::move(card),
        {*operations, *mainLoop, locatedBeside(builtChildPrograms(), executablePath())});
    assistantDelegate = [[AssistantDelegate alloc] initWithAssistant:assistant];
    [app setDelegate:assistantDelegate];
    [app run];
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The count is checked before anything that could throw, so that 2 means only that.
    if (argc != static_cast<int>(expectedArgumentCount)) return 2;
    return exitStatusOf([&] {
        const std::vector<std::string> args(argv, argv + argc);
        @autoreleasepool {
            return runAssistant(args);
        }
    });
}
