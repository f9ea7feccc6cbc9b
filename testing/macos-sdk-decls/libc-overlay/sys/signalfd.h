// Linux-only: macOS has no <sys/signalfd.h>.
#error "<sys/signalfd.h> is Linux-only: it does not exist on macOS"
