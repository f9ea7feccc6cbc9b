#include "startup.h"

#include <exception>

int main(int argc, char** argv) {
    try {
        return runListener(std::vector<std::string>(argv, argv + argc));
    } catch (...) {
        // Nothing the listener does is expected to throw; stop without a half-written line.
        return 1;
    }
}
