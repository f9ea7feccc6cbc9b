// Linux-only: macOS has no <sys/sendfile.h>.
#error "<sys/sendfile.h> is Linux-only: it does not exist on macOS"
