// Linux-only: macOS has no <sys/timerfd.h>.
#error "<sys/timerfd.h> is Linux-only: it does not exist on macOS"
