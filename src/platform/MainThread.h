#pragma once

#include <functional>

namespace orvo {

// Any thread. Queues fn to run on the main thread's event loop and returns at once.
// Returns false (and drops fn) when no application object exists.
bool dispatchToMain(std::function<void()> fn);

// Any thread. True on the thread that runs the application's event loop.
bool isMainThread();

} // namespace orvo
