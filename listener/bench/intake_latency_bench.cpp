// Key-to-line latency of the X11 event source: the time from sending a key through XTest to
// reading the listener's line on its standard output. Each case starts its own listener.
//   intake_latency_bench PATH-TO-shortcut-listener [benchmark options]
// Run it on a private X server: testing/with-display -- ...

#include "intake_x_session.h"

#include <benchmark/benchmark.h>

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/wait.h>

// The listener under test, from the command line.
std::string listenerPath;

namespace {

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
        state.SkipWithError("no X display with XTest");
        return;
    }
    ListenerProcess listener(listenerPath, args);
    if (listener.nextErrorLine() != "ready: event tap") {
        state.SkipWithError("the listener did not start");
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
            state.SkipWithError("unexpected line");
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
            state.SkipWithError("the listener did not start");
            break;
        }
        const auto closed = std::chrono::steady_clock::now();
        listener.closeOutput();
        const std::optional<int> status = listener.waitExit(10s);
        const auto ended = std::chrono::steady_clock::now();
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            state.SkipWithError("the listener did not exit with status 0");
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

BENCHMARK(BM_OrphanedListenerExit)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefaultSpeakChord)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyedBindingWithheld)
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-shortcut-listener [benchmark options]\n", argv[0]);
        return 2;
    }
    listenerPath = argv[1];
    argv[1] = argv[0];
    int rest = argc - 1;
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
