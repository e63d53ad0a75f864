#pragma once
// Runs the Qt event loop until a condition holds. The limit only keeps a
// broken test from hanging; no test asserts on elapsed time.
#include <functional>

// True once condition() holds; false if the limit passed first.
bool RunEventsUntil(const std::function<bool()>& condition, int limitMs = 15000);
// Runs events for a while (to show that something does NOT happen).
void RunEventsFor(int ms);
