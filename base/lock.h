// The process-wide critical section and its scope guard, used where a lock must
// be usable during static initialisation and from any thread.
#pragma once

#include <windows.h>

namespace _BaseModule {

class CCriticalSection {
 public:
  CCriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~CCriticalSection() { ::DeleteCriticalSection(&cs_); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Lock() { ::EnterCriticalSection(&cs_); }
  void Unlock() { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CAutoLocker {
 public:
  explicit CAutoLocker(CCriticalSection& cs) : cs_(cs) { cs_.Lock(); }
  ~CAutoLocker() { cs_.Unlock(); }
  CAutoLocker(const CAutoLocker&) = delete;
  CAutoLocker& operator=(const CAutoLocker&) = delete;

 private:
  CCriticalSection& cs_;
};

}  // namespace _BaseModule
