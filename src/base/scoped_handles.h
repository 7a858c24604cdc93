#pragma once
// Small owners for the system handles the program holds: each closes its handle exactly once,
// moves but never copies, and leaves the source empty after a move, so that every early return
// closes what was opened and nothing is closed twice.

#include <windows.h>

#include <objbase.h>

namespace varn {

// One owner class for every handle kind; the policy names the handle type, its empty value and
// how it is closed.
template <typename Policy>
class ScopedHandle {
 public:
  using Handle = typename Policy::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Policy::Empty(); }

  // Gives up ownership without closing; the caller closes the returned handle.
  Handle release() {
    Handle handle = handle_;
    handle_ = Policy::Empty();
    return handle;
  }

  // Closes the handle held so far and takes the new one. The owner is emptied before the close
  // so that it never holds a handle that is already gone.
  void reset(Handle handle = Policy::Empty()) {
    Handle old = handle_;
    handle_ = handle;
    if (old != Policy::Empty() && old != handle) Policy::Close(old);
  }

 private:
  Handle handle_ = Policy::Empty();
};

// Events, threads, processes, jobs, mutexes: the functions that make them answer null on failure.
struct KernelHandlePolicy {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

// CreateFileW and a few others answer INVALID_HANDLE_VALUE on failure instead of null. That value
// is also the current process's pseudo handle, so it must never be taken for an open file.
struct FileHandlePolicy {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

// Fonts, brushes, pens and bitmaps. Deleting one that is still selected into a device context
// fails and leaks it, so it must outlive any SelectedObject that selected it.
template <typename GdiHandle>
struct GdiObjectPolicy {
  using Handle = GdiHandle;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { DeleteObject(handle); }
};

struct MenuPolicy {
  using Handle = HMENU;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { DestroyMenu(handle); }
};

// For icons the program made or loaded without LR_SHARED; a shared icon must never be destroyed.
struct IconPolicy {
  using Handle = HICON;
  static Handle Empty() { return nullptr; }
  static void Close(Handle handle) { DestroyIcon(handle); }
};

// What the system hands out from LocalAlloc: security descriptors, SID texts, split command
// lines.
struct LocalMemoryPolicy {
  using Handle = HLOCAL;
  static Handle Empty() { return nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};

using KernelHandle = ScopedHandle<KernelHandlePolicy>;
using FileHandle = ScopedHandle<FileHandlePolicy>;
using FontHandle = ScopedHandle<GdiObjectPolicy<HFONT>>;
using BrushHandle = ScopedHandle<GdiObjectPolicy<HBRUSH>>;
using PenHandle = ScopedHandle<GdiObjectPolicy<HPEN>>;
using MenuHandle = ScopedHandle<MenuPolicy>;
using IconHandle = ScopedHandle<IconPolicy>;
using LocalMemory = ScopedHandle<LocalMemoryPolicy>;

// Selects a font, brush, pen or bitmap into a device context for one scope and puts the previous
// one back at its end, so that the object can be deleted afterwards and the context is handed
// back as it came. Not for regions: selecting one answers its complexity, not an object.
// It can be moved (out of a helper that makes it) but not assigned: selections are undone in the
// reverse order they were made, and an assignment would undo one out of that order.
class SelectedObject {
 public:
  // A failed selection answers null, and there is nothing to put back then.
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() { Restore(); }

  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  SelectedObject(SelectedObject&& other) noexcept : dc_(other.dc_), previous_(other.previous_) {
    other.previous_ = nullptr;
  }
  SelectedObject& operator=(SelectedObject&&) = delete;

  // The object that was selected before; null when the selection failed.
  HGDIOBJ previous() const { return previous_; }
  explicit operator bool() const { return previous_ != nullptr; }

 private:
  void Restore() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// Joins the calling thread to a COM apartment for one scope. Every successful CoInitializeEx
// needs its own CoUninitialize, S_FALSE (already joined in that mode) included; a refused one
// (RPC_E_CHANGED_MODE: the thread is in the other kind of apartment) must not be balanced, or it
// would take the thread out of an apartment someone else joined it to. Apartments belong to a
// thread: an owner may be moved, never handed to another thread.
class ComApartment {
 public:
  explicit ComApartment(DWORD mode) : result_(CoInitializeEx(nullptr, mode)), joined_(SUCCEEDED(result_)) {}
  ~ComApartment() { reset(); }

  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ComApartment(ComApartment&& other) noexcept : result_(other.result_), joined_(other.joined_) {
    other.joined_ = false;
  }
  ComApartment& operator=(ComApartment&& other) noexcept {
    if (this != &other) {
      reset();
      result_ = other.result_;
      joined_ = other.joined_;
      other.joined_ = false;
    }
    return *this;
  }

  // What CoInitializeEx answered.
  HRESULT result() const { return result_; }
  explicit operator bool() const { return joined_; }

  // Leaves the apartment now instead of at the end of the scope.
  void reset() {
    if (joined_) CoUninitialize();
    joined_ = false;
  }

 private:
  HRESULT result_ = E_FAIL;
  bool joined_ = false;
};

}  // namespace varn
