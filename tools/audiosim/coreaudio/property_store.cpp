// IPropertyStore of an endpoint: the friendly name, the enhancements switch and the two
// "Listen to this device" properties, all read from the world.

#include <iterator>
#include <new>

#include "objects.h"

namespace coreaudio {

namespace {

// Defined here rather than through INITGUID so that no other key is instantiated.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
constexpr PROPERTYKEY kDisableSysFx = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 5};
constexpr PROPERTYKEY kListenTarget = {
    {0x24dbb0fc, 0x9311, 0x4b3d, {0x9c, 0xf0, 0x18, 0xff, 0x15, 0x56, 0x39, 0xd4}}, 0};
constexpr PROPERTYKEY kListenEnabled = {
    {0x24dbb0fc, 0x9311, 0x4b3d, {0x9c, 0xf0, 0x18, 0xff, 0x15, 0x56, 0x39, 0xd4}}, 1};
constexpr PROPERTYKEY kKeys[] = {kFriendlyName, kDisableSysFx, kListenTarget, kListenEnabled};

HRESULT CopyText(const std::wstring& text, PROPVARIANT* value) {
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (value->pwszVal == nullptr) return E_OUTOFMEMORY;
  memcpy(value->pwszVal, text.c_str(), bytes);
  value->vt = VT_LPWSTR;
  return S_OK;
}

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
    *count = static_cast<DWORD>(std::size(kKeys));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (index >= std::size(kKeys)) return E_INVALIDARG;
    *key = kKeys[index];
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    audiosim::World world;
    ReadWorld(world);
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, id_);
    if (e == nullptr || e->id != id_) return kNotFound;
    if (SameKey(key, kFriendlyName)) return CopyText(e->name, value);
    if (SameKey(key, kDisableSysFx)) {
      value->vt = VT_UI4;
      value->ulVal = e->effectsOn ? ENDPOINT_SYSFX_ENABLED : ENDPOINT_SYSFX_DISABLED;
    } else if (SameKey(key, kListenEnabled) && e->flow == audiosim::kCapture) {
      value->vt = VT_BOOL;
      value->boolVal = e->listen ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (SameKey(key, kListenTarget) && !e->listenTarget.empty()) {
      return CopyText(e->listenTarget, value);
    }
    // Any other key (and the listen properties of a render endpoint, or a target never set):
    // an empty value, which is how Windows reports an unset property.
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
