#pragma once
// The fixture of the listener's host-case tests on a private X server: key code 200 mapped to
// XF86Fn, Caps Lock off, listeners started and waited for, and every listener ended and the
// layout put back at the end. Each test gets a fresh one.

#include "intake_fn_session.h"
#include "intake_x_session.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

class HostCases : public FnSessionTest {
  protected:
    void TearDown() override {
        FnSessionTest::TearDown();
        for (auto& listener : listeners) {
            const int status = listener->stop();
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << "a listener ended early, status " << status
                << "; stderr: " << listener->errors();
        }
        if (layoutChanged) {
            EXPECT_TRUE(XSession::setxkbmap({"-layout", "us", "-option", ""}));
        }
    }

    // Starts a listener and waits until it listens.
    ListenerProcess& start(const std::vector<std::string>& args) {
        listeners.push_back(std::make_unique<ListenerProcess>(listenerPath, args));
        ListenerProcess& listener = *listeners.back();
        EXPECT_TRUE(listener.started());
        EXPECT_TRUE(waitForError(listener, "ready: event tap")) << listener.errors();
        return listener;
    }

    // Reads standard error until a line that starts with the text; false at its end.
    static bool waitForError(ListenerProcess& listener, const std::string& start,
                             std::chrono::milliseconds timeout = 30s) {
        while (const std::optional<std::string> line = listener.nextErrorLine(timeout)) {
            if (line->rfind(start, 0) == 0) return true;
        }
        return false;
    }

    static std::vector<std::string> lines(ListenerProcess& listener, size_t count) {
        std::vector<std::string> got;
        while (got.size() < count) {
            const std::optional<std::string> line = listener.nextLine(30s);
            if (!line) break;
            got.push_back(*line);
        }
        return got;
    }

    void useLayout(const std::vector<std::string>& args) {
        useLayoutAsIs(args);
        // A new keymap drops the XF86Fn key code.
        ASSERT_TRUE(session.mapToFn(xkey::fn));
    }

    // Loads the layout and leaves it without the XF86Fn key code.
    void useLayoutAsIs(const std::vector<std::string>& args) {
        layoutChanged = true;
        ASSERT_TRUE(XSession::setxkbmap(args)) << "setxkbmap failed";
    }

    std::vector<std::unique_ptr<ListenerProcess>> listeners;
    bool layoutChanged = false;
};
