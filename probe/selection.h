#pragma once
// Decides the selection report from the accessibility queries, in one pass.

#include "accessibility.h"
#include "out.h"

#include <optional>

inline constexpr std::int64_t kLongSelectionThreshold = 3600;
inline constexpr std::int64_t kPrefixLength = 1350;
inline constexpr double kFallbackMinWidth = 8;
inline constexpr double kFallbackMaxWidth = 48;
inline constexpr double kFallbackMinHeight = 12;
inline constexpr double kFallbackMaxHeight = 22;

// Value decoders; `from` must already be known to be an accessibility value.
std::optional<AxRect> rectFrom(Accessibility& ax, AxRef from);
std::optional<AxPoint> pointFrom(Accessibility& ax, AxRef from);
std::optional<AxSize> sizeFrom(Accessibility& ax, AxRef from);

// Makes the queries and fills the record. Every reference obtained is released before this
// returns, so the caller writes the record with nothing held.
Out probeSelection(Accessibility& ax);
