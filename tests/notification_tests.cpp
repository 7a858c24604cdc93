// Endpoint notifications of the simulated Core Audio: a registered client hears of every change
// of the world that Windows would report, from another thread, and nothing once unregistered
// or when the simulator is told to stay silent.

#include <gtest/gtest.h>

#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/sim_fixture.h"
#include "support/test_support.h"
#include "world.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

const CLSID kEnumeratorClass = {0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
constexpr DWORD kDeliveryLimitMs = 10000;

// Keeps each call as one line ("state <id> 4", "default 0 1 <id>"). Made with new and never
// freed: a test that fails while it is registered cannot leave the watcher calling freed memory.
class Recorder : public IMMNotificationClient {
 public:
  Recorder() { InitializeCriticalSection(&lock_); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
    return Add(L"state " + std::wstring(id) + L" " + std::to_wstring(state));
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override { return Add(L"added " + std::wstring(id)); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override { return Add(L"removed " + std::wstring(id)); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
    return Add(L"default " + std::to_wstring(flow) + L" " + std::to_wstring(role) + L" " + (id ? id : L"none"));
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

  bool Has(const std::wstring& call) { return Count(call) > 0; }
  size_t Count(const std::wstring& call = L"") {
    EnterCriticalSection(&lock_);
    size_t n = call.empty() ? calls_.size() : static_cast<size_t>(std::count(calls_.begin(), calls_.end(), call));
    LeaveCriticalSection(&lock_);
    return n;
  }
  volatile LONG refs = 1;
  volatile bool onTestThread = false;

 private:
  HRESULT Add(std::wstring call) {
    if (GetCurrentThreadId() == testThread_) onTestThread = true;
    EnterCriticalSection(&lock_);
    calls_.push_back(std::move(call));
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  CRITICAL_SECTION lock_;
  std::vector<std::wstring> calls_;
  const DWORD testThread_ = GetCurrentThreadId();
};

// A new enumerator for each call: registrations belong to the process, not to an enumerator.
HRESULT Register(Recorder* client) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator));
  return FAILED(hr) ? hr : enumerator->RegisterEndpointNotificationCallback(client);
}
HRESULT Unregister(Recorder* client) {
  ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator));
  return FAILED(hr) ? hr : enumerator->UnregisterEndpointNotificationCallback(client);
}

using Notifications = SimulatedWorldTest;

TEST_F(Notifications, EachWorldChangeReachesTheClientFromAnotherThread) {
  const std::wstring bridgeIn = Id(L"bridge-in"), bridgeOut = Id(L"bridge-out"), card = Id(L"card-in");
  auto* client = new Recorder();
  ASSERT_EQ(Register(client), S_OK);

  // The driver of the card is uninstalled: its endpoint leaves the world.
  auto removeCard = [&] {
    return audiosim::UpdateWorld([&](audiosim::World& world) {
      std::erase_if(world.endpoints, [&](const audiosim::Endpoint& e) { return e.id == card; });
      return true;
    });
  };
  const struct {
    const char* what;
    std::function<bool()> change;
    std::vector<std::wstring> expected;  // among the calls that follow
  } cases[] = {
      {"unplug", [] { return Audiosim(L"unplug bridge") == 0; }, {L"state " + bridgeIn + L" 4", L"state " + bridgeOut + L" 4"}},
      {"plug back", [] { return Audiosim(L"plug bridge") == 0; }, {L"state " + bridgeIn + L" 1", L"state " + bridgeOut + L" 1"}},
      {"default, each role", [] { return Audiosim(L"default bridge-out") == 0; },
       {L"default 0 0 " + bridgeOut, L"default 0 1 " + bridgeOut, L"default 0 2 " + bridgeOut}},
      {"a disabled default moves", [] { return Audiosim(L"disable card-in") == 0; },
       {L"state " + card + L" 2", L"default 1 1 " + bridgeIn}},
      {"removed", removeCard, {L"removed " + card}},
      {"new instance", [] { return Audiosim(L"replug bridge") == 0; }, {L"state " + bridgeIn + L" 4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.change());
    for (const std::wstring& call : c.expected) {
      EXPECT_TRUE(WaitUntil([&] { return client->Has(call); }, kDeliveryLimitMs)) << Utf8(call);
    }
  }
  EXPECT_TRUE(WaitUntil([&] { return client->Has(L"added " + Id(L"bridge-in")); }, kDeliveryLimitMs));
  EXPECT_FALSE(client->onTestThread);
  EXPECT_EQ(client->Count(L"state " + card + L" 2"), 1u) << "one call per change, not one per look at the world";

  EXPECT_EQ(Unregister(client), S_OK);
  EXPECT_EQ(client->refs, 1) << "the registration's reference was given back";
}

// A change that a still-registered client hears of proves that the watcher delivered it; the
// unregistered client and the one registered under AUDIOSIM_NOTIFICATIONS=off must not.
TEST_F(Notifications, NothingAfterUnregisterNorWhenSwitchedOff) {
  auto *witness = new Recorder(), *unregistered = new Recorder(), *silenced = new Recorder();
  ASSERT_EQ(Register(witness), S_OK);
  ASSERT_EQ(Register(unregistered), S_OK);
  {
    EnvScope off(L"AUDIOSIM_NOTIFICATIONS", L"off");
    ASSERT_EQ(Register(silenced), S_OK);
  }
  ASSERT_EQ(Unregister(unregistered), S_OK);

  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  ASSERT_TRUE(WaitUntil([&] { return witness->Has(L"state " + Id(L"bridge-in") + L" 4"); }, kDeliveryLimitMs));
  EXPECT_EQ(unregistered->Count(), 0u);
  EXPECT_EQ(silenced->Count(), 0u);

  EXPECT_EQ(Unregister(silenced), S_OK);
  EXPECT_EQ(Unregister(witness), S_OK);
  EXPECT_EQ(Unregister(witness), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

}  // namespace
