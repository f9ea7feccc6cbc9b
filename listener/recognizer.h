#pragma once
// The default and custom shortcut recognizers. Every key event passes through consider().

#include <cstdint>
#include <string_view>

struct Binding;

// Handles one event; true when the event is to be withheld from the applications.
bool consider(int32_t type, int64_t keyCode, uint64_t flags, std::string_view label = "");
bool customConsider(int32_t type, int64_t keyCode, uint64_t flags, std::string_view label);

bool fnHeld(uint64_t flags);
bool has(uint64_t flags, uint64_t mask);
bool modifiersMatch(const Binding& binding, uint64_t flags);

void emitSpeak();
void emitTranslate();

// Puts Caps Lock into the given state; true when it is known to be there afterwards.
bool restoreCaps(bool state);
