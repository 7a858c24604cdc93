#pragma once
// The Windows audio policy interface, undocumented: what Windows' own sound settings use to
// set default endpoints, hide and show (disable and enable) endpoints and write endpoint
// properties. Declared here by hand from the sources named in docs/sound-tool.md; no header
// or type library of Microsoft's describes it. Every method returns an HRESULT; the layout of
// the vtable is the contract, so the order below must never change.

#include <windows.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <propidl.h>
#include <unknwn.h>

namespace sound_tool {

// CPolicyConfigClient {870AF99C-171D-4F9E-AF0D-E63DF40C2BC9}, Windows 7 and later.
inline constexpr CLSID kPolicyConfigClientClass = {
    0x870af99c, 0x171d, 0x4f9e, {0xaf, 0x0d, 0xe6, 0x3d, 0xf4, 0x0c, 0x2b, 0xc9}};
// The interface of that class, by Windows version. The layout is the same under all three ids.
// Windows 7, 8, 8.1, 10 from 1607 (RS1), 11.
inline constexpr IID kPolicyConfigInterface = {
    0xf8679f50, 0x850a, 0x41cf, {0x9c, 0x72, 0x43, 0x0f, 0x29, 0x02, 0x90, 0xc8}};
// Windows 10 1507 (TH1).
inline constexpr IID kPolicyConfigInterface1507 = {
    0xca286fc3, 0x91fd, 0x42c3, {0x8e, 0x9b, 0xca, 0xaf, 0xa6, 0x62, 0x42, 0xe3}};
// Windows 10 1511 (TH2).
inline constexpr IID kPolicyConfigInterface1511 = {
    0x6be54be8, 0xa068, 0x4875, {0xa4, 0x9d, 0x0c, 0x29, 0x66, 0x47, 0x3b, 0x11}};

// CPolicyConfigVistaClient {294935CE-F637-4E7C-A41B-AB255460B862} and its interface
// {568B9108-44BF-40B4-9006-86AFE5B5A620}: Windows Vista's, still present later.
inline constexpr CLSID kPolicyConfigVistaClientClass = {
    0x294935ce, 0xf637, 0x4e7c, {0xa4, 0x1b, 0xab, 0x25, 0x54, 0x60, 0xb8, 0x62}};
inline constexpr IID kPolicyConfigVistaInterface = {
    0x568b9108, 0x44bf, 0x40b4, {0x90, 0x06, 0x86, 0xaf, 0xe5, 0xb5, 0xa6, 0x20}};

enum DeviceShareMode : int { kDeviceShared = 0, kDeviceExclusive = 1 };

struct PolicyConfig : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR deviceId, WAVEFORMATEX** format) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR deviceId, BOOL useDefault, WAVEFORMATEX** format) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR deviceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR deviceId, WAVEFORMATEX* endpointFormat,
                                                    WAVEFORMATEX* mixFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR deviceId, BOOL useDefault, LONGLONG* defaultPeriod,
                                                        LONGLONG* minimumPeriod) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR deviceId, LONGLONG* period) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR deviceId, DeviceShareMode* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR deviceId, DeviceShareMode* mode) = 0;
  // fxStore picks the endpoint's effects store instead of its own; several published
  // declarations leave this parameter out, which hands the key's address over as fxStore and
  // the value's as the key. It is FALSE for every property this tool writes.
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR deviceId, BOOL fxStore, const PROPERTYKEY& key,
                                                     PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR deviceId, BOOL fxStore, const PROPERTYKEY& key,
                                                     PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR deviceId, ERole role) = 0;
  // FALSE disables the endpoint (DEVICE_STATE_DISABLED), TRUE enables it again.
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR deviceId, BOOL visible) = 0;
};

// The Vista interface lacks ResetDeviceFormat and is otherwise in the same order. Only
// SetDefaultEndpoint is called through it: whether its SetPropertyValue takes fxStore could not
// be confirmed, and its SetEndpointVisibility is reported to be a stub from Windows 7 on.
struct PolicyConfigVista : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR deviceId, WAVEFORMATEX** format) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR deviceId, BOOL useDefault, WAVEFORMATEX** format) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR deviceId, WAVEFORMATEX* endpointFormat,
                                                    WAVEFORMATEX* mixFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR deviceId, BOOL useDefault, LONGLONG* defaultPeriod,
                                                        LONGLONG* minimumPeriod) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR deviceId, LONGLONG* period) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR deviceId, DeviceShareMode* mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR deviceId, DeviceShareMode* mode) = 0;
  // Parameters as the one published header that lists them has them (without fxStore); never
  // called, they only hold their places.
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR deviceId, const PROPERTYKEY& key, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR deviceId, const PROPERTYKEY& key, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR deviceId, ERole role) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR deviceId, BOOL visible) = 0;
};

// The capture endpoint's "Listen to this device" settings, property set
// {24DBB0FC-9311-4B3D-9CF0-18FF155639D4}: pid 0 the playback target's endpoint id (VT_LPWSTR),
// pid 1 listening on or off (VT_BOOL).
inline constexpr PROPERTYKEY kListenTargetKey = {
    {0x24dbb0fc, 0x9311, 0x4b3d, {0x9c, 0xf0, 0x18, 0xff, 0x15, 0x56, 0x39, 0xd4}}, 0};
inline constexpr PROPERTYKEY kListenEnabledKey = {
    {0x24dbb0fc, 0x9311, 0x4b3d, {0x9c, 0xf0, 0x18, 0xff, 0x15, 0x56, 0x39, 0xd4}}, 1};

}  // namespace sound_tool
