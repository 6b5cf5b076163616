#pragma once
// The one way long operations let a window stay responsive: a thread-local
// hook that runs the window's pending events. The GUI thread installs Qt's
// event processing; every other thread has none and a yield does nothing.
#include <functional>

namespace qm {

using YieldHook = std::function<void()>;

// Installs (or, with an empty function, removes) the hook of the calling thread.
void SetYieldHook(YieldHook hook);
// True when the calling thread has a hook.
bool HasYieldHook();
// Lets pending events run: calls the calling thread's hook, if any.
void YieldNow();

}  // namespace qm
