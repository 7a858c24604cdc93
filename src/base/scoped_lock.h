#pragma once
// Holds a slim reader/writer lock exclusively for one scope. A slim lock needs no creation
// step (SRWLOCK_INIT), so a process-wide one is safe on first use from any thread.

#include <windows.h>

namespace varn {

class ScopedExclusiveLock {
 public:
  explicit ScopedExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~ScopedExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
  ScopedExclusiveLock(const ScopedExclusiveLock&) = delete;
  ScopedExclusiveLock& operator=(const ScopedExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace varn
