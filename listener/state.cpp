#include "state.h"

ListenerState listener;
