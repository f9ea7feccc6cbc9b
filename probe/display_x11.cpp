#include "display_x11.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <xcb/xcb.h>

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

xcb_atom_t atomNamed(xcb_connection_t* x, xcb_intern_atom_cookie_t cookie) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(x, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_intern_atom_cookie_t internAtom(xcb_connection_t* x, const char* name) {
    return xcb_intern_atom(x, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
}

Reply<xcb_get_property_reply_t> property(xcb_connection_t* x, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type, std::uint32_t words) {
    if (name == XCB_ATOM_NONE) return nullptr;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(x, xcb_get_property(x, 0, window, name, type, 0, words), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return nullptr;
    return reply;
}

std::optional<std::uint32_t> cardinal(xcb_connection_t* x, xcb_window_t window, xcb_atom_t name,
                                      xcb_atom_t type) {
    auto reply = property(x, window, name, type, 1);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get()));
}

xcb_window_t focusWindow(xcb_connection_t* x, xcb_window_t root, xcb_atom_t activeAtom) {
    if (auto active = cardinal(x, root, activeAtom, XCB_ATOM_WINDOW); active && *active != 0) {
        return *active;
    }
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
        return XCB_NONE;
    }
    return focus->focus;
}

// The pid of the window or of its nearest ancestor below the root that names one.
std::optional<std::uint32_t> pidOf(xcb_connection_t* x, xcb_window_t window, xcb_window_t root,
                                   xcb_atom_t pidAtom) {
    for (int level = 0; level < 16 && window != XCB_NONE && window != root; ++level) {
        if (auto pid = cardinal(x, window, pidAtom, XCB_ATOM_CARDINAL)) return pid;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr));
        if (!tree) return std::nullopt;
        window = tree->parent;
    }
    return std::nullopt;
}

std::optional<std::string> busAddress(xcb_connection_t* x, xcb_window_t root, xcb_atom_t atom) {
    auto reply = property(x, root, atom, XCB_ATOM_STRING, 1024);
    if (!reply || reply->format != 8) return std::nullopt;
    int length = xcb_get_property_value_length(reply.get());
    if (length <= 0) return std::nullopt;
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(length));
}

// The window's area in root coordinates, both questions asked in one round trip.
std::optional<AxRect> boxOf(xcb_connection_t* x, xcb_window_t window, xcb_window_t root) {
    if (window == XCB_NONE || window == root) return std::nullopt;
    auto geometryCookie = xcb_get_geometry(x, window);
    auto originCookie = xcb_translate_coordinates(x, window, root, 0, 0);
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, geometryCookie, nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(x, originCookie, nullptr));
    if (!geometry || !origin || geometry->width == 0 || geometry->height == 0) return std::nullopt;
    return AxRect{double(origin->dst_x), double(origin->dst_y), double(geometry->width),
                  double(geometry->height)};
}

// The ancestor of `window` that is a child of the root: its top-level window or frame.
xcb_window_t topLevelOf(xcb_connection_t* x, xcb_window_t window, xcb_window_t root) {
    for (int level = 0; level < 16 && window != XCB_NONE; ++level) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr));
        if (!tree || tree->parent == root) return tree ? window : XCB_NONE;
        window = tree->parent;
    }
    return XCB_NONE;
}

// The focused window's area. Without a window manager the input focus may be a tiny proxy
// inside the window (GDK's focus window): its top-level window is taken then.
std::optional<AxRect> boxOnScreen(xcb_connection_t* x, xcb_window_t window, xcb_window_t root) {
    std::optional<AxRect> box = boxOf(x, window, root);
    if (box && box->width >= 16 && box->height >= 16) return box;
    return boxOf(x, topLevelOf(x, window, root), root);
}

// Answers the bus address as soon as it is read, then the active window's facts, so that
// the caller can connect to the bus while the window is still asked about.
void askDisplay(std::promise<std::optional<std::string>>& bus, std::promise<DisplayFacts>& facts) {
    DisplayFacts read;
    std::unique_ptr<xcb_connection_t, Disconnect> x(xcb_connect(nullptr, nullptr));
    const xcb_setup_t* setup = xcb_connection_has_error(x.get()) ? nullptr : xcb_get_setup(x.get());
    xcb_screen_iterator_t screens{};
    if (setup) screens = xcb_setup_roots_iterator(setup);
    if (!setup || screens.rem == 0) {
        bus.set_value(std::nullopt);
        facts.set_value(read);
        return;
    }
    xcb_window_t root = screens.data->root;
    // The three names in one round trip.
    auto activeCookie = internAtom(x.get(), "_NET_ACTIVE_WINDOW");
    auto pidCookie = internAtom(x.get(), "_NET_WM_PID");
    auto busCookie = internAtom(x.get(), "AT_SPI_BUS");
    xcb_atom_t activeAtom = atomNamed(x.get(), activeCookie);
    xcb_atom_t pidAtom = atomNamed(x.get(), pidCookie);
    xcb_atom_t busAtom = atomNamed(x.get(), busCookie);
    read.accessibilityBus = busAddress(x.get(), root, busAtom);
    bus.set_value(read.accessibilityBus);
    xcb_window_t window = focusWindow(x.get(), root, activeAtom);
    if (pidAtom != XCB_ATOM_NONE) read.activeWindowPid = pidOf(x.get(), window, root, pidAtom);
    read.activeWindowBox = boxOnScreen(x.get(), window, root);
    facts.set_value(std::move(read));
}

} // namespace

DisplayRead::DisplayRead(int timeoutMs)
    : until_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    // xcb has no time-outs of its own. A thread left waiting on a silent display ends with
    // the process; its promises outlive this object through their shared states.
    std::promise<std::optional<std::string>> bus;
    std::promise<DisplayFacts> facts;
    std::future<std::optional<std::string>> busAnswer = bus.get_future();
    std::future<DisplayFacts> factsAnswer = facts.get_future();
    try {
        std::thread([bus = std::move(bus), facts = std::move(facts)]() mutable {
            askDisplay(bus, facts);
        }).detach();
    } catch (...) {
        return;
    }
    bus_ = std::move(busAnswer);
    facts_ = std::move(factsAnswer);
}

std::optional<std::string> DisplayRead::accessibilityBus() {
    if (!bus_.valid() || bus_.wait_until(until_) != std::future_status::ready) return std::nullopt;
    return bus_.get();
}

DisplayFacts DisplayRead::facts() {
    if (!facts_.valid() || facts_.wait_until(until_) != std::future_status::ready) return {};
    return facts_.get();
}
