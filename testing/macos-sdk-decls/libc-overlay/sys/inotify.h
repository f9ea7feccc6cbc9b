// Linux-only: macOS has no <sys/inotify.h>.
#error "<sys/inotify.h> is Linux-only: it does not exist on macOS"
