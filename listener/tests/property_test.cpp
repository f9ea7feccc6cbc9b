// A million random events through each recognizer, checking what must hold whatever the order.

#include "fakes.h"
#include "recognizer.h"

#include <random>

namespace {

constexpr int kEvents = 1'000'000;

struct Event {
    int32_t type;
    int64_t key;
    uint64_t flags;
    const char* label;
};

class EventSource {
  public:
    explicit EventSource(uint32_t seed) : random_(seed) {}
    Event next() {
        static constexpr int64_t keys[] = {0, 1, 12, 53, 56, 57, 57, 58, 59, 63, 63};
        static constexpr uint64_t bits[] = {0x10000,  0x20000,  0x40000,  0x80000,
                                            0x100000, 0x800000, 0x800000, 0x2};
        static constexpr const char* labels[] = {"", "a", "\xc3\x9f"};
        Event event{static_cast<int32_t>(10 + pick(3)), keys[pick(std::size(keys))], 0,
                    labels[pick(std::size(labels))]};
        for (uint64_t bit : bits)
            if (pick(3) == 0) event.flags |= bit;
        return event;
    }

  private:
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    std::mt19937 random_;
};

// Follows the globe key the way the platform reports it, independently of the recognizer.
struct GlobeModel {
    bool down = false;
    void see(const Event& e) {
        if (e.key != 63) return;
        down = e.type == 12 ? (e.flags & 0x800000) != 0 : e.type == 10;
    }
    bool fn(uint64_t flags) const { return (flags & 0x800000) || down; }
};

// Checks that every restore within one fn hold asks for one state: the Caps Lock flag of the
// event before the hold's first restore (default shortcuts), or of the last event before the
// hold (custom bindings, which stop following the flag once fn is down).
class RestoreChecker {
  public:
    RestoreChecker(bool capsAtStart, bool followsDuringHold)
        : previousCaps_(capsAtStart), followsDuringHold_(followsDuringHold) {}
    void after(const Event& e, bool fnHeldNow, const std::vector<bool>& restores) {
        for (bool state : restores) {
            if (!holdExpectation_) holdExpectation_ = previousCaps_;
            ASSERT_EQ(state, *holdExpectation_) << "restore asked for another state mid-hold";
        }
        if (!fnHeldNow) holdExpectation_.reset();
        const bool follows = followsDuringHold_ ? !holdExpectation_ : !fnHeldNow;
        if (follows) previousCaps_ = (e.flags & 0x10000) != 0;
    }

  private:
    bool previousCaps_;
    bool followsDuringHold_;
    std::optional<bool> holdExpectation_;
};

class RecognizerProperties : public ListenerTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RecognizerProperties, DefaultSpeaksOncePerPressAndRestoresTheHeldState) {
    listener.selfTesting = true;
    EventSource source(GetParam());
    GlobeModel globe;
    RestoreChecker restores(listener.capsLock, true);
    bool chordWasHeld = false;
    int speaksThisPress = 0;
    for (int i = 0; i < kEvents; ++i) {
        const Event e = source.next();
        globe.see(e);
        const size_t restoresBefore = listener.restoredStates.size();
        const size_t actionsBefore = listener.observed.size();
        consider(e.type, e.key, e.flags, e.label);

        const bool chordHeld =
            (e.flags & 0x40000) && globe.fn(e.flags) && !(e.flags & (0x20000 | 0x80000 | 0x100000));
        if (!chordHeld || !chordWasHeld) speaksThisPress = 0;
        chordWasHeld = chordHeld;
        for (size_t a = actionsBefore; a < listener.observed.size(); ++a) {
            if (listener.observed[a] == "speak") {
                ASSERT_LE(++speaksThisPress, 1) << "event " << i;
            }
        }
        restores.after(
            e, globe.fn(e.flags),
            {listener.restoredStates.begin() + restoresBefore, listener.restoredStates.end()});
        if (HasFatalFailure()) return;
        // Keep memory flat: only the entries of this event matter.
        listener.observed.clear();
        listener.restoredStates.clear();
    }
}

TEST_P(RecognizerProperties, BindingsRestoreTheHeldStateAndSpeakOncePerMatch) {
    listener.selfTesting = true;
    listener.bindings = {{"read", Binding{true, false, true, false, false, std::nullopt, ""}},
                         {"translate", Binding{true, false, false, false, false, 57, "Caps Lock"}}};
    EventSource source(GetParam() + 1000);
    GlobeModel globe;
    RestoreChecker restores(listener.capsLock, false);
    bool mismatchSinceSpeak = true;
    for (int i = 0; i < kEvents; ++i) {
        const Event e = source.next();
        globe.see(e);
        listener.globeDown = globe.down; // what consider() does before handing the event over
        customConsider(e.type, e.key, e.flags, e.label);

        const uint64_t mods = e.flags & (0x20000 | 0x40000 | 0x80000 | 0x100000);
        const bool matches = globe.fn(e.flags) && mods == 0x80000;
        for (const auto& action : listener.observed) {
            if (action != "speak") continue;
            ASSERT_TRUE(mismatchSinceSpeak) << "second speak without a release, event " << i;
            mismatchSinceSpeak = false;
        }
        if (!matches) mismatchSinceSpeak = true;
        restores.after(e, globe.fn(e.flags), listener.restoredStates);
        if (HasFatalFailure()) return;
        listener.observed.clear();
        listener.restoredStates.clear();
    }
}

int64_t weightOf(const std::string& line) {
    int64_t weight = line.find("\"keyCode\"") != std::string::npos ? 10 : 0;
    for (const char* member : {"\"fn\":true", "\"control\":true", "\"option\":true",
                               "\"shift\":true", "\"command\":true"})
        weight += line.find(member) != std::string::npos;
    return weight;
}

TEST_P(RecognizerProperties, RecordWeightsNeverDecrease) {
    listener.recording = true;
    EventSource source(GetParam() + 2000);
    int64_t lastWeight = 0;
    size_t reports = 0;
    for (int i = 0; i < kEvents; ++i) {
        const Event e = source.next();
        consider(e.type, e.key, e.flags, e.label);
        for (const auto& line : fakeStreams.outLines) {
            if (line == "record-cancel\n") continue;
            ASSERT_EQ(line.rfind("record:{", 0), 0u) << line;
            const int64_t weight = weightOf(line);
            ASSERT_GE(weight, lastWeight) << "event " << i << ": " << line;
            ASSERT_EQ(line.find("null"), std::string::npos) << line;
            lastWeight = weight;
            ++reports;
        }
        fakeStreams.outLines.clear();
    }
    EXPECT_GT(reports, 0u);
    EXPECT_EQ(lastWeight, listener.recordingWeight);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RecognizerProperties, ::testing::Values(1u, 2u));

} // namespace
