// IPropertyStore of an endpoint: the friendly name and the enhancements switch.

#include <new>

#include "objects.h"

namespace coreaudio {

namespace {

// Defined here rather than through INITGUID so that no other key is instantiated.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
constexpr PROPERTYKEY kDisableSysFx = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 5};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

class PropertyStore : public IPropertyStore, public RefCounted {
 public:
  PropertyStore(std::wstring id, bool writable) : id_(std::move(id)), writable_(writable) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return QuerySingle<IPropertyStore>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (index > 1) return E_INVALIDARG;
    *key = index == 0 ? kFriendlyName : kDisableSysFx;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    audiosim::World world;
    ReadWorld(world);
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, id_);
    if (e == nullptr || e->id != id_) return kNotFound;
    if (SameKey(key, kFriendlyName)) {
      size_t bytes = (e->name.size() + 1) * sizeof(wchar_t);
      value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
      if (value->pwszVal == nullptr) return E_OUTOFMEMORY;
      memcpy(value->pwszVal, e->name.c_str(), bytes);
      value->vt = VT_LPWSTR;
    } else if (SameKey(key, kDisableSysFx)) {
      value->vt = VT_UI4;
      value->ulVal = e->effectsOn ? ENDPOINT_SYSFX_ENABLED : ENDPOINT_SYSFX_DISABLED;
    }
    // Any other key: an empty value, which is how Windows reports an unset property.
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
    if (!writable_) return STG_E_ACCESSDENIED;
    if (!SameKey(key, kDisableSysFx)) return STG_E_ACCESSDENIED;
    if (value.vt != VT_UI4) return E_INVALIDARG;
    AcquireSRWLockExclusive(&lock_);
    pendingSysFx_ = value.ulVal;
    hasPending_ = true;
    ReleaseSRWLockExclusive(&lock_);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Commit() override {
    if (!writable_) return STG_E_ACCESSDENIED;
    AcquireSRWLockExclusive(&lock_);
    bool has = hasPending_;
    ULONG sysFx = pendingSysFx_;
    hasPending_ = false;
    ReleaseSRWLockExclusive(&lock_);
    if (!has) return S_OK;
    return UpdateEndpoint(id_, [&](audiosim::Endpoint& e) {
      if (e.effectsLocked) return E_ACCESSDENIED;
      e.effectsOn = sysFx != ENDPOINT_SYSFX_DISABLED;
      return S_OK;
    });
  }

 private:
  const std::wstring id_;
  const bool writable_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool hasPending_ = false;
  ULONG pendingSysFx_ = 0;
};

}  // namespace

HRESULT CreatePropertyStore(const std::wstring& id, bool writable, IPropertyStore** store) {
  if (store == nullptr) return E_POINTER;
  *store = new (std::nothrow) PropertyStore(id, writable);
  return *store != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace coreaudio
