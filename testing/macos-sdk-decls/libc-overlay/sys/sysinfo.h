// Linux-only: macOS has no <sys/sysinfo.h>.
#error "<sys/sysinfo.h> is Linux-only: it does not exist on macOS"
