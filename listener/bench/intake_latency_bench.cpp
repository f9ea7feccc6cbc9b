// Key-to-line latency of the X11 event source: the time from sending a key through XTest to
// reading the listener's line on its standard output. Each case starts its own listener.
//   intake_latency_bench PATH-TO-shortcut-listener [--presses=N] [--exits=N] [benchmark options]
// (defaults: 2000 presses per key case, 50 listener exits). Exits with status 1 when a case
// could not be measured. Run it on a private X server: testing/with-display -- ...

#include "intake_x_session.h"

#include <benchmark/benchmark.h>

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <sys/wait.h>

// The listener under test, from the command line.
std::string listenerPath;

namespace {

// Set when a case stops with an error, so that the run does not end in success.
bool anyCaseFailed = false;

void fail(benchmark::State& state, const char* why) {
    anyCaseFailed = true;
    state.SkipWithError(why);
}

void send(Display* display, unsigned key, bool press) {
    XTestFakeKeyEvent(display, key, press ? True : False, CurrentTime);
    XFlush(display);
}

// Times `press` of `key` (with `held` down throughout) until `line` is read; the release is
// sent and settled outside the timing.
void measure(benchmark::State& state, const std::vector<std::string>& args, unsigned held,
             unsigned key, const std::string& line) {
    XSession session;
    if (!session.ok() || !session.mapToFn(xkey::fn)) {
        fail(state, "no X display with XTest");
        return;
    }
    ListenerProcess listener(listenerPath, args);
    if (listener.nextErrorLine() != "ready: event tap") {
        fail(state, "the listener did not start");
        return;
    }
    session.press(held);
    std::vector<double> samples;
    for (auto _ : state) {
        const auto sent = std::chrono::steady_clock::now();
        send(session.display(), key, true);
        const std::optional<std::string> got = listener.nextLine();
        const auto read = std::chrono::steady_clock::now();
        if (got != line) {
            fail(state, "unexpected line");
            break;
        }
        const double seconds = std::chrono::duration<double>(read - sent).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e6);
        session.release(key); // XSync inside: settled before the next press
    }
    session.releaseAll();
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[static_cast<size_t>(q * (samples.size() - 1))];
    };
    state.counters["median_us"] = at(0.5);
    state.counters["p90_us"] = at(0.9);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = samples.back();
}

// fn held, Control pressed: a modifier key, reported once its XKB state notification is in.
void BM_DefaultSpeakChord(benchmark::State& state) {
    measure(state, {}, xkey::fn, xkey::control, "speak");
}

// Control held, A pressed: a keyed binding, answered through the synchronous grab.
void BM_KeyedBindingWithheld(benchmark::State& state) {
    const std::string bindings =
        R"({"read":{"fn":false,"control":true,"option":false,"shift":false,"command":false,"keyCode":0,"keyLabel":"A"}})";
    measure(state, {"--bindings", bindings}, xkey::control, xkey::a, "speak");
}

// The time from the reader closing the listener's standard output to the listener's exit,
// with nothing pressed in between (goal: at most 100 ms).
void BM_OrphanedListenerExit(benchmark::State& state) {
    std::vector<double> samples;
    for (auto _ : state) {
        ListenerProcess listener(listenerPath, {});
        if (listener.nextErrorLine() != "ready: event tap") {
            fail(state, "the listener did not start");
            break;
        }
        const auto closed = std::chrono::steady_clock::now();
        listener.closeOutput();
        const std::optional<int> status = listener.waitExit(10s);
        const auto ended = std::chrono::steady_clock::now();
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            fail(state, "the listener did not exit with status 0");
            break;
        }
        const double seconds = std::chrono::duration<double>(ended - closed).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e3);
    }
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["max_ms"] = samples.back();
}

// The count given as --NAME=N among the arguments, which it removes; `fallback` when absent.
int64_t takeCount(int& argc, char** argv, std::string_view name, int64_t fallback) {
    const std::string prefix = "--" + std::string(name) + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with(prefix)) continue;
        const int64_t count = std::atoll(argv[i] + prefix.size());
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        return count > 0 ? count : fallback;
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s PATH-TO-shortcut-listener [--presses=N] [--exits=N] "
                     "[benchmark options]\n",
                     argv[0]);
        return 2;
    }
    listenerPath = argv[1];
    argv[1] = argv[0];
    int rest = argc - 1;
    const int64_t presses = takeCount(rest, argv + 1, "presses", 2000);
    const int64_t exits = takeCount(rest, argv + 1, "exits", 50);
    benchmark::RegisterBenchmark("BM_OrphanedListenerExit", BM_OrphanedListenerExit)
        ->UseManualTime()
        ->Iterations(exits)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_DefaultSpeakChord", BM_DefaultSpeakChord)
        ->UseManualTime()
        ->Iterations(presses)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_KeyedBindingWithheld", BM_KeyedBindingWithheld)
        ->UseManualTime()
        ->Iterations(presses)
        ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return anyCaseFailed ? 1 : 0;
}
