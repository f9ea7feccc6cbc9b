#pragma once
// Decoding of AT-SPI replies into plain values. Any application may answer anything: each
// function takes a reply of the type it names (GDBus has checked the signature) and keeps
// only what is well formed, so nothing read here reaches a later D-Bus call invalid.

#include "focus_choice.h"
#include "object_model.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The most objects decoded from one reply: more than any search asks of one parent.
inline constexpr std::size_t kObjectsPerReply = 4096;

// The first `limit` objects of an `(a(so))` reply; absent reply: none. Entries whose bus name
// is not a valid D-Bus name (an empty one, say) are left out.
std::vector<AtspiObject> objectsIn(GVariant* reply, std::size_t limit = kObjectsPerReply);

// The object of an `((so))` reply, absent when there is none or its bus name is not valid.
std::optional<AtspiObject> objectIn(GVariant* reply);

// The state set of an `au` value: its first two words.
std::uint64_t statesOf(GVariant* words);
// The state set of an `(au)` reply.
std::uint64_t statesIn(GVariant* reply);

// True when an `as` list of interface names holds Text.
bool namesText(GVariant* names);
// True when an `(as)` reply holds Text; false for an absent reply.
bool hasTextInterface(GVariant* reply);

// One entry of an object cache's reply, absent when it names no object. Toolkits differ in
// the members between the parent and the interfaces (GTK 4: index and child count; Qt: the
// children), so the members are taken by position where all agree and by type where they do
// not.
std::optional<CachedObject> cachedObjectIn(GVariant* item);
