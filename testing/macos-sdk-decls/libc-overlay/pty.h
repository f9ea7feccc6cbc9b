// Linux-only: macOS has no <pty.h>.
#error "<pty.h> is Linux-only: it does not exist on macOS"
