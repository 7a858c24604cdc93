#pragma once
// An owned registry key handle, the handle owner of base/scoped_handles.h with RegCloseKey, so
// that every early return of a registry operation still closes its key.

#include <windows.h>

#include "base/scoped_handles.h"

namespace varn {

struct RegistryKeyPolicy {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { RegCloseKey(handle); }
};
using RegistryKey = ScopedHandle<RegistryKeyPolicy>;

// Opens an existing key; the result is not open when the key is missing or access is refused.
RegistryKey OpenRegistryKey(HKEY root, const wchar_t* path, REGSAM access);
// Opens the key, creating it (and missing parents) as a non-volatile key with default security.
RegistryKey CreateRegistryKey(HKEY root, const wchar_t* path, REGSAM access);

}  // namespace varn
