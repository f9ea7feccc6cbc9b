#pragma once
// Decides the selection report from the accessibility questions, in one pass.

#include "accessibility.h"
#include "out.h"

#include <cstdint>

// A selection of more UTF-16 units is long: only its first kPrefixLength units are read.
inline constexpr std::int64_t kLongSelectionThreshold = 3600;
inline constexpr std::int64_t kPrefixLength = 1350;
inline constexpr double kFallbackMinWidth = 8;
inline constexpr double kFallbackMaxWidth = 48;
inline constexpr double kFallbackMinHeight = 12;
inline constexpr double kFallbackMaxHeight = 22;

// Asks the questions in the order of the run's steps and fills the record. Fields set by an
// earlier question stay set whatever later ones answer.
Out probeSelection(Accessibility& ax);
