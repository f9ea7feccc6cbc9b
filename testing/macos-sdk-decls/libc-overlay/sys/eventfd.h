// Linux-only: macOS has no <sys/eventfd.h>.
#error "<sys/eventfd.h> is Linux-only: it does not exist on macOS"
