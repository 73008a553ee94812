#include "disk/copy_stop.h"

#include <atomic>

namespace quillmar {
namespace {

std::atomic<bool> g_copyStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

}  // namespace

void RequestCopyStop() {
  g_copyStopRequested.store(true);
}

bool CopyStopRequested() {
  return g_copyStopRequested.load();
}

void ClearCopyStop() {
  g_copyStopRequested.store(false);
}

}  // namespace quillmar
