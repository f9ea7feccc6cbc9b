#pragma once
// AT-SPI2's D-Bus names, spelled once: the buses, object paths and interfaces the Linux layer
// calls, and the coordinate type it asks for.

#include <cstdint>

namespace atspi {

// The bus launcher on the session bus, which tells the accessibility bus's address.
inline constexpr const char* kLauncherBus = "org.a11y.Bus";
inline constexpr const char* kLauncherPath = "/org/a11y/bus";
inline constexpr const char* kLauncherInterface = "org.a11y.Bus";
// The launcher's switches: IsEnabled (accessibility on) and ScreenReaderEnabled.
inline constexpr const char* kStatusInterface = "org.a11y.Status";

// The message bus itself, which knows the process behind each connection.
inline constexpr const char* kDBusBus = "org.freedesktop.DBus";
inline constexpr const char* kDBusPath = "/org/freedesktop/DBus";
inline constexpr const char* kDBusInterface = "org.freedesktop.DBus";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

inline constexpr const char* kRegistryBus = "org.a11y.atspi.Registry";
// Every application's root object, and the registry's, lies at this path.
inline constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
// The path of a reference to no object.
inline constexpr const char* kNullPath = "/org/a11y/atspi/null";
inline constexpr const char* kCachePath = "/org/a11y/atspi/cache";

inline constexpr const char* kAccessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* kApplicationInterface = "org.a11y.atspi.Application";
inline constexpr const char* kCacheInterface = "org.a11y.atspi.Cache";
inline constexpr const char* kCollectionInterface = "org.a11y.atspi.Collection";
inline constexpr const char* kComponentInterface = "org.a11y.atspi.Component";
inline constexpr const char* kHyperlinkInterface = "org.a11y.atspi.Hyperlink";
inline constexpr const char* kHypertextInterface = "org.a11y.atspi.Hypertext";
inline constexpr const char* kTextInterface = "org.a11y.atspi.Text";

// The coordinate type that asks for positions on the screen.
inline constexpr std::uint32_t kScreenCoordinates = 0;
inline constexpr std::uint32_t kWindowCoordinates = 1;

} // namespace atspi
