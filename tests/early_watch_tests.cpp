// When the early evaluation follows a device-change notification: after a quiet moment, and
// never sooner than the spacing after the last early run allows.

#include <gtest/gtest.h>

#include "controller/early_watch.h"

namespace {

TEST(EarlyWatch, WaitsForQuietAndKeepsEarlyRunsApart) {
  struct Row {
    ULONGLONG now, lastRun;
    UINT wait;
  } rows[] = {
      {5000, 0, 100},     // no early run yet
      {5000, 4999, 299},  // right after one: the rest of the spacing
      {5000, 4750, 100},  // 50 ms of spacing left: still the full quiet moment
      {5000, 4800, 100},
      {5000, 4700, 100},  // spacing over
      {5000, 1000, 100},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(varn::EarlyWatchDelayMs(r.now, r.lastRun), r.wait) << r.now << " after " << r.lastRun;
  }
}

}  // namespace
