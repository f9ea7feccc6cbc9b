// Linux-only: macOS has no <sys/vfs.h>.
#error "<sys/vfs.h> is Linux-only: it does not exist on macOS"
