// Linux-only: macOS has no <malloc.h>.
#error "<malloc.h> is Linux-only: it does not exist on macOS"
