// Linux-only: macOS has no <mntent.h>.
#error "<mntent.h> is Linux-only: it does not exist on macOS"
