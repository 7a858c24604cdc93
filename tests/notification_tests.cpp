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

// Writes each call as one line ("state <id> 4", "default 0 1 <id>"), and the calling thread.
class Recorder : public IMMNotificationClient {
 public:
  Recorder() { InitializeCriticalSection(&lock_); }
  ~Recorder() { DeleteCriticalSection(&lock_); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IMMNotificationClient)) return E_NOINTERFACE;
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
    return Add(L"state " + std::wstring(id) + L" " + std::to_wstring(state));
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override { return Add(L"added " + std::wstring(id)); }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override { return Add(L"removed " + std::wstring(id)); }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
    return Add(L"default " + std::to_wstring(flow) + L" " + std::to_wstring(role) + L" " +
               (id == nullptr ? L"none" : id));
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

  std::vector<std::wstring> Calls() {
    EnterCriticalSection(&lock_);
    std::vector<std::wstring> copy = calls_;
    LeaveCriticalSection(&lock_);
    return copy;
  }
  bool Has(const std::wstring& call) {
    std::vector<std::wstring> calls = Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  bool CalledOnThisThread() const { return onCaller_; }
  LONG refs() const { return refs_; }

 private:
  HRESULT Add(std::wstring call) {
    if (GetCurrentThreadId() == caller_) onCaller_ = true;
    EnterCriticalSection(&lock_);
    calls_.push_back(std::move(call));
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  CRITICAL_SECTION lock_;
  std::vector<std::wstring> calls_;
  volatile LONG refs_ = 1;
  const DWORD caller_ = GetCurrentThreadId();
  volatile bool onCaller_ = false;
};

ComPtr<IMMDeviceEnumerator> NewEnumerator() {
  ComPtr<IMMDeviceEnumerator> enumerator;
  EXPECT_EQ(CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator)), S_OK);
  return enumerator;
}

// A registration undone at the end of the scope at the latest, so that a failed assertion
// cannot leave the watcher calling a client that is gone.
class Registration {
 public:
  Registration(ComPtr<IMMDeviceEnumerator> enumerator, Recorder& client)
      : enumerator_(std::move(enumerator)), client_(&client),
        registered_(enumerator_->RegisterEndpointNotificationCallback(client_) == S_OK) {}
  ~Registration() { Undo(); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  bool registered() const { return registered_; }
  // Through another enumerator: the registration belongs to the process.
  HRESULT Undo() {
    if (!registered_) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    registered_ = false;
    ComPtr<IMMDeviceEnumerator> other;
    CoCreateInstance(kEnumeratorClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&other));
    return other ? other->UnregisterEndpointNotificationCallback(client_) : E_FAIL;
  }

 private:
  ComPtr<IMMDeviceEnumerator> enumerator_;
  Recorder* client_;
  bool registered_;
};

// The endpoint leaves the world altogether (its driver was uninstalled).
bool RemoveFromWorld(const std::wstring& id) {
  return audiosim::UpdateWorld([&](audiosim::World& world) {
    auto& all = world.endpoints;
    all.erase(std::remove_if(all.begin(), all.end(), [&](const audiosim::Endpoint& e) { return e.id == id; }),
              all.end());
    return true;
  });
}

using Notifications = SimulatedWorldTest;

TEST_F(Notifications, EachWorldChangeReachesTheClientFromAnotherThread) {
  const std::wstring bridgeIn = Id(L"bridge-in"), bridgeOut = Id(L"bridge-out"), card = Id(L"card-in");
  Recorder client;
  Registration registration(NewEnumerator(), client);
  ASSERT_TRUE(registration.registered());

  struct Case {
    const char* what;
    std::function<bool()> change;
    std::vector<std::wstring> expected;  // among the calls that follow, in any order
  };
  const std::vector<Case> cases = {
      {"unplug", [] { return Audiosim(L"unplug bridge") == 0; },
       {L"state " + bridgeIn + L" 4", L"state " + bridgeOut + L" 4"}},
      {"plug back", [] { return Audiosim(L"plug bridge") == 0; },
       {L"state " + bridgeIn + L" 1", L"state " + bridgeOut + L" 1"}},
      {"default, each role", [] { return Audiosim(L"default bridge-out") == 0; },
       {L"default 0 0 " + bridgeOut, L"default 0 1 " + bridgeOut, L"default 0 2 " + bridgeOut}},
      {"disabled default moves", [] { return Audiosim(L"disable card-in") == 0; },
       {L"state " + card + L" 2", L"default 1 1 " + bridgeIn}},
      {"removed", [&] { return RemoveFromWorld(card); }, {L"removed " + card}},
      {"new instance", [] { return Audiosim(L"replug bridge") == 0; }, {L"state " + bridgeIn + L" 4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.change());
    for (const std::wstring& call : c.expected) {
      EXPECT_TRUE(WaitUntil([&] { return client.Has(call); }, kDeliveryLimitMs)) << Utf8(call);
    }
  }
  // The replugged bridge's endpoints are new ones, announced as added.
  EXPECT_TRUE(WaitUntil([&] { return client.Has(L"added " + Id(L"bridge-in")); }, kDeliveryLimitMs));
  EXPECT_FALSE(client.CalledOnThisThread());

  EXPECT_EQ(registration.Undo(), S_OK);
  EXPECT_EQ(client.refs(), 1) << "the registration's reference was given back";
}

// A change that a still-registered client hears of proves that the watcher delivered it; the
// unregistered client and the one registered under AUDIOSIM_NOTIFICATIONS=off must not.
TEST_F(Notifications, NothingAfterUnregisterNorWhenSwitchedOff) {
  Recorder witness, unregistered, silenced;
  Registration forWitness(NewEnumerator(), witness), forUnregistered(NewEnumerator(), unregistered);
  EnvScope off(L"AUDIOSIM_NOTIFICATIONS", L"off");
  Registration forSilenced(NewEnumerator(), silenced);
  ASSERT_TRUE(forWitness.registered() && forUnregistered.registered() && forSilenced.registered());
  ASSERT_EQ(forUnregistered.Undo(), S_OK);

  const std::wstring bridgeIn = Id(L"bridge-in");
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  ASSERT_TRUE(WaitUntil([&] { return witness.Has(L"state " + bridgeIn + L" 4"); }, kDeliveryLimitMs));
  EXPECT_TRUE(unregistered.Calls().empty());
  EXPECT_TRUE(silenced.Calls().empty());

  EXPECT_EQ(forSilenced.Undo(), S_OK);
  EXPECT_EQ(forWitness.Undo(), S_OK);
  EXPECT_EQ(NewEnumerator()->UnregisterEndpointNotificationCallback(&witness), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

}  // namespace
