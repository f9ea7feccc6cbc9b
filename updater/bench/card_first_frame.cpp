// Benchmark helper: starts a program, waits for its first window to be mapped and for the pixel
// at X,Y of the root window to change (the card's first frame on screen), then waits for the
// program to end. Prints one line: "map_ms=... frame_ms=... cpu_ms=... exit=... maxrss_kib=...",
// cpu_ms being the program's CPU time until its first frame.
//   card_first_frame X Y -- PROGRAM ARGS...
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

unsigned long pixelAt(Display* display, Window root, int x, int y) {
    XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

// CPU time of all the process's threads so far, in milliseconds (Linux schedstat); this does
// not grow when other programs hold the cores, unlike the wall-clock time.
double cpuMilliseconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    double nanoseconds = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (stat >> onCpu) nanoseconds += onCpu;
    }
    closedir(dir);
    return nanoseconds / 1e6;
}

bool waitForMap(Display* display, Clock::time_point giveUp) {
    while (Clock::now() < giveUp) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) return true;
        }
        usleep(200);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fprintf(stderr, "usage: card_first_frame X Y -- PROGRAM ARGS...\n");
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "card_first_frame: no display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    const unsigned long before = pixelAt(display, root, x, y);

    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[4], argv + 4);
        _exit(127);
    }
    const auto giveUp = start + std::chrono::seconds(10);
    const bool mapped = waitForMap(display, giveUp);
    const double mapMs = millisecondsSince(start);
    bool drawn = false;
    while (mapped && !drawn && Clock::now() < giveUp) {
        drawn = pixelAt(display, root, x, y) != before;
        if (!drawn) usleep(200);
    }
    const double frameMs = millisecondsSince(start);
    const double cpuMs = cpuMilliseconds(child);

    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    XCloseDisplay(display);
    if (!mapped || !drawn) {
        std::fprintf(stderr, "card_first_frame: no card seen\n");
        return 1;
    }
    std::printf("map_ms=%.1f frame_ms=%.1f cpu_ms=%.1f exit=%d maxrss_kib=%ld\n", mapMs, frameMs,
                cpuMs, WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss);
    return 0;
}
