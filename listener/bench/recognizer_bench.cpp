// Cost per event of the default and custom recognizers, with heap allocations counted.

#include "event_codes.h"
#include "recognizer.h"
#include "state.h"
#include "streams.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> allocations{0};

class NullStreams final : public Streams {
  public:
    void out(std::string_view) override {}
    void err(std::string_view) override {}
};
NullStreams nullStreams;

// A lock state that is always where it is asked to be, so every restore succeeds at once.
class SteadyLockState final : public LockState {
  public:
    std::optional<bool> capsLocked() override { return locked_; }
    bool setCapsLocked(bool on) override {
        locked_ = on;
        return true;
    }

  private:
    bool locked_ = false;
};
SteadyLockState steadyLock;

struct Event {
    int32_t type;
    int64_t key;
    uint64_t flags;
};

// A typing burst with a speak chord and a translate chord in it.
constexpr Event kEvents[] = {
    {kKeyDown, kKeyA, 0},
    {kKeyUp, kKeyA, 0},
    {kKeyDown, kKeyS, kFlagShift},
    {kKeyUp, kKeyS, kFlagShift},
    {kFlagsChanged, kKeyFn, kFlagFn},
    {kFlagsChanged, kKeyControl, kFlagFn | kFlagControl},
    {kFlagsChanged, kKeyControl, kFlagFn},
    {kFlagsChanged, kKeyCapsLock, kFlagFn | kFlagCapsLock},
    {kFlagsChanged, kKeyCapsLock, kFlagFn},
    {kFlagsChanged, kKeyFn, 0},
    {kKeyDown, kKeyQ, kFlagCommand},
    {kKeyUp, kKeyQ, kFlagCommand},
};

// Counts the steady state: one pass first, so that what a fresh state allocates once (an
// armed name's first entry) is not charged to the events.
void runEvents(benchmark::State& state) {
    for (const Event& e : kEvents)
        benchmark::DoNotOptimize(consider(e.type, e.key, e.flags, ""));
    size_t i = 0;
    const uint64_t before = allocations.load();
    for (auto _ : state) {
        const Event& e = kEvents[i++ % std::size(kEvents)];
        benchmark::DoNotOptimize(consider(e.type, e.key, e.flags, ""));
    }
    state.counters["allocs/event"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_considerDefault(benchmark::State& state) {
    listener = ListenerState{};
    listener.output = &nullStreams;
    listener.hidConnection = &steadyLock;
    runEvents(state);
}

void BM_customConsider(benchmark::State& state) {
    listener = ListenerState{};
    listener.output = &nullStreams;
    listener.hidConnection = nullptr; // fn + Caps Lock is swallowed without a platform call
    for (int64_t b = 0; b < state.range(0); ++b) {
        listener.bindings["action" + std::to_string(b)] =
            Binding{b % 2 == 0, b % 3 == 0, b % 5 == 0,
                    false,      b % 7 == 0, b % 4 == 0 ? std::optional<int64_t>{b} : std::nullopt,
                    ""};
    }
    listener.bindings["read"] = Binding{true, true, false, false, false, std::nullopt, ""};
    runEvents(state);
}

} // namespace

BENCHMARK(BM_considerDefault);
BENCHMARK(BM_customConsider)->Arg(2)->Arg(16);

void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

BENCHMARK_MAIN();
