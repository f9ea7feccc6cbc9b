#pragma once
// The main thread's event loop as the assistant sees it.

#include <functional>

class MainLoop {
  public:
    virtual ~MainLoop() = default;
    // Runs the task once on a background worker, starting now. Called on the main thread.
    virtual void startWorker(std::function<void()> task) = 0;
    // Asks the loop to end the process (exit status 0) this many seconds from now. May be called
    // from any thread; work handed to the main loop before this call runs first.
    virtual void terminateAfter(double seconds) = 0;
};
