#pragma once
// Test doubles for the listener's seams, and a fixture that starts every test from a fresh
// listener state with both fakes installed.

#include "lock_state.h"
#include "state.h"
#include "streams.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class RecordingStreams final : public Streams {
  public:
    void out(std::string_view line) override { outLines.emplace_back(line); }
    void err(std::string_view line) override { errLines.emplace_back(line); }
    std::vector<std::string> outLines;
    std::vector<std::string> errLines;
};

// A keyboard lock state that can fail its reads and sets on request, and logs every call.
class FakeLockState final : public LockState {
  public:
    std::optional<bool> capsLocked() override {
        calls.push_back("get");
        if (readFails) return std::nullopt;
        return locked;
    }
    bool setCapsLocked(bool on) override {
        calls.push_back(on ? "set:on" : "set:off");
        if (setFails) return false;
        if (!setIgnored) locked = on;
        return true;
    }
    bool locked = false;
    bool readFails = false;
    bool setFails = false;
    bool setIgnored = false; // reports success but leaves the state as it was
    std::vector<std::string> calls;
};

class ListenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        listener = ListenerState{};
        listener.output = &fakeStreams;
        listener.hidConnection = &lock;
    }
    void TearDown() override { listener = ListenerState{}; }
    RecordingStreams fakeStreams;
    FakeLockState lock;
};
