#pragma once
// An owned registry key handle: closed when the owner goes away, moved but never copied, so
// that every early return of a registry operation still closes its key.

#include <windows.h>

namespace varn {

class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() { Close(); }

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept : key_(other.Release()) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept;

  HKEY Get() const { return key_; }
  bool IsOpen() const { return key_ != nullptr; }
  // Gives up ownership without closing; the caller closes the returned handle.
  HKEY Release();
  void Close();

 private:
  HKEY key_ = nullptr;
};

// Opens an existing key; the result is not open when the key is missing or access is refused.
RegistryKey OpenRegistryKey(HKEY root, const wchar_t* path, REGSAM access);
// Opens the key, creating it (and missing parents) as a non-volatile key with default security.
RegistryKey CreateRegistryKey(HKEY root, const wchar_t* path, REGSAM access);

}  // namespace varn
