// Linux-only: macOS has no <sys/fsuid.h>.
#error "<sys/fsuid.h> is Linux-only: it does not exist on macOS"
