#include "web/yield.h"

namespace qm {
namespace {
thread_local YieldHook tHook;
}  // namespace

void SetYieldHook(YieldHook hook) { tHook = std::move(hook); }

bool HasYieldHook() { return static_cast<bool>(tHook); }

void YieldNow() {
  if (tHook) tHook();
}

}  // namespace qm
