// Endpoint notifications of the fake Core Audio server. Windows calls a registered
// IMMNotificationClient from its own threads when a device is added, removed or changes state,
// or when a default changes; here one watcher thread per process plays that part. It watches
// the simulator directory (writers publish a new world by renaming it into place), and on
// every change compares the world as Core Audio reports it now with the world it saw last,
// then calls every registered client with the difference.
//
// AUDIOSIM_NOTIFICATIONS=off, read at registration, keeps the registration but delivers
// nothing: the program then learns of changes by polling alone, as on a system whose
// notifications never come.
//
// Property changes (names, volumes, listen settings) are not delivered.

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "notifications.h"
#include "objects.h"
#include "sim_files.h"

namespace coreaudio {

volatile LONG registeredClients = 0;

namespace {

constexpr wchar_t kSwitchVariable[] = L"AUDIOSIM_NOTIFICATIONS";
// A safety net under the directory watch: the world is compared again at least this often.
constexpr DWORD kRecheckMs = 1000;

struct Registration {
  IMMNotificationClient* client;
  bool deliver;
};

// The world as a client of Core Audio sees it: each endpoint's state and the active default
// per flow and role.
struct Seen {
  std::vector<std::pair<std::wstring, DWORD>> states;
  std::wstring defaults[2][audiosim::kRoles];
  std::uint64_t nextPendingMs = 0;  // the next time a pending enable takes effect (0: none)
};

// Register and Unregister are serialised by `lifecycle`; `clientsLock` guards the list and is
// held for every delivery, so that a client removed from the list is never called again.
CRITICAL_SECTION lifecycle;
CRITICAL_SECTION clientsLock;
INIT_ONCE locksReady = INIT_ONCE_STATIC_INIT;
std::vector<Registration>* clients = nullptr;
HANDLE watcherThread = nullptr;
HANDLE stopWatcher = nullptr;
DWORD watcherThreadId = 0;

BOOL CALLBACK InitLocks(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&lifecycle);
  InitializeCriticalSection(&clientsLock);
  return TRUE;
}

bool NotificationsSwitchedOff() {
  wchar_t value[16] = {};
  DWORD length = GetEnvironmentVariableW(kSwitchVariable, value, 16);
  return length > 0 && length < 16 && _wcsicmp(value, L"off") == 0;
}

Seen See(const audiosim::World& world) {
  Seen seen;
  std::uint64_t now = audiosim::NowMs();
  for (const audiosim::Endpoint& e : world.endpoints) {
    seen.states.emplace_back(e.id, audiosim::EffectiveState(e, now));
    if (e.enableAtMs > now && (seen.nextPendingMs == 0 || e.enableAtMs < seen.nextPendingMs)) {
      seen.nextPendingMs = e.enableAtMs;
    }
  }
  for (int flow = 0; flow < 2; ++flow) {
    for (int role = 0; role < audiosim::kRoles; ++role) {
      const std::wstring& id = world.defaults[flow][role];
      const audiosim::Endpoint* e = id.empty() ? nullptr : audiosim::FindEndpoint(world, id);
      // GetDefaultAudioEndpoint reports only an active default; so does the notification.
      if (e != nullptr && audiosim::EffectiveState(*e, now) == audiosim::kStateActive) {
        seen.defaults[flow][role] = e->id;
      }
    }
  }
  return seen;
}

const DWORD* StateOf(const Seen& seen, const std::wstring& id) {
  for (const auto& [seenId, state] : seen.states) {
    if (seenId == id) return &state;
  }
  return nullptr;
}

// Calls every delivering client with what changed from `before` to `after`, in the order
// Windows uses for a new device: added, then state changes, then removed, then defaults.
void Deliver(const Seen& before, const Seen& after) {
  EnterCriticalSection(&clientsLock);
  for (const Registration& r : *clients) {
    if (!r.deliver) continue;
    for (const auto& [id, state] : after.states) {
      if (StateOf(before, id) == nullptr) r.client->OnDeviceAdded(id.c_str());
    }
    for (const auto& [id, state] : after.states) {
      const DWORD* old = StateOf(before, id);
      if (old != nullptr && *old != state) r.client->OnDeviceStateChanged(id.c_str(), state);
    }
    for (const auto& [id, state] : before.states) {
      if (StateOf(after, id) == nullptr) r.client->OnDeviceRemoved(id.c_str());
    }
    for (int flow = 0; flow < 2; ++flow) {
      for (int role = 0; role < audiosim::kRoles; ++role) {
        const std::wstring& id = after.defaults[flow][role];
        if (id == before.defaults[flow][role]) continue;
        r.client->OnDefaultDeviceChanged(static_cast<EDataFlow>(flow), static_cast<ERole>(role),
                                         id.empty() ? nullptr : id.c_str());
      }
    }
  }
  LeaveCriticalSection(&clientsLock);
}

bool SeenNow(Seen& seen) noexcept {
  try {
    audiosim::World world;
    if (!ReadWorld(world)) return false;  // a world being replaced: the next change reads it
    seen = See(world);
    return true;
  } catch (...) {
    return false;
  }
}

DWORD WaitBeforeRecheck(const Seen& seen) {
  if (seen.nextPendingMs == 0) return kRecheckMs;
  std::uint64_t now = audiosim::NowMs();
  if (seen.nextPendingMs <= now) return 0;
  return static_cast<DWORD>(std::min<std::uint64_t>(seen.nextPendingMs - now + 1, kRecheckMs));
}

DWORD WINAPI WatchWorld(void* start) {
  Seen* last = static_cast<Seen*>(start);
  std::wstring directory = audiosim::SimDirectory();
  HANDLE change = directory.empty() ? INVALID_HANDLE_VALUE
                                    : FindFirstChangeNotificationW(
                                          directory.c_str(), FALSE,
                                          FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
  HANDLE waits[2] = {stopWatcher, change};
  DWORD count = change == INVALID_HANDLE_VALUE ? 1 : 2;
  for (;;) {
    DWORD woke = WaitForMultipleObjects(count, waits, FALSE, WaitBeforeRecheck(*last));
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    if (woke == WAIT_OBJECT_0 + 1) FindNextChangeNotification(change);
    Seen now;
    if (!SeenNow(now)) continue;
    try {
      Deliver(*last, now);
    } catch (...) {
    }
    *last = std::move(now);
  }
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  delete last;
  return 0;
}

bool StartWatcher() {
  Seen* first = new (std::nothrow) Seen();
  if (first == nullptr) return false;
  SeenNow(*first);
  stopWatcher = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stopWatcher != nullptr) watcherThread = CreateThread(nullptr, 0, WatchWorld, first, 0, &watcherThreadId);
  if (watcherThread != nullptr) return true;
  delete first;
  if (stopWatcher != nullptr) CloseHandle(stopWatcher);
  stopWatcher = nullptr;
  return false;
}

void StopWatcher() {
  if (watcherThread == nullptr) return;
  SetEvent(stopWatcher);
  WaitForSingleObject(watcherThread, INFINITE);
  CloseHandle(watcherThread);
  CloseHandle(stopWatcher);
  watcherThread = nullptr;
  stopWatcher = nullptr;
  watcherThreadId = 0;
}

bool AnyDelivering() {
  for (const Registration& r : *clients) {
    if (r.deliver) return true;
  }
  return false;
}

}  // namespace

HRESULT RegisterNotificationClient(IMMNotificationClient* client) noexcept {
  if (client == nullptr) return E_POINTER;
  InitOnceExecuteOnce(&locksReady, InitLocks, nullptr, nullptr);
  EnterCriticalSection(&lifecycle);
  HRESULT hr = S_OK;
  try {
    if (clients == nullptr) clients = new std::vector<Registration>();
    Registration r{client, !NotificationsSwitchedOff()};
    if (r.deliver && watcherThread == nullptr && !StartWatcher()) {
      hr = E_OUTOFMEMORY;
    } else {
      client->AddRef();
      EnterCriticalSection(&clientsLock);
      clients->push_back(r);
      LeaveCriticalSection(&clientsLock);
      InterlockedIncrement(&registeredClients);
    }
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  LeaveCriticalSection(&lifecycle);
  return hr;
}

HRESULT UnregisterNotificationClient(IMMNotificationClient* client) noexcept {
  if (client == nullptr) return E_POINTER;
  // Windows forbids this from a callback (it deadlocks there); refusing it keeps the watcher
  // from waiting for itself.
  if (GetCurrentThreadId() == watcherThreadId) return E_UNEXPECTED;
  InitOnceExecuteOnce(&locksReady, InitLocks, nullptr, nullptr);
  EnterCriticalSection(&lifecycle);
  HRESULT hr = kNotFound;
  if (clients != nullptr) {
    EnterCriticalSection(&clientsLock);
    auto found = std::find_if(clients->begin(), clients->end(),
                              [&](const Registration& r) { return r.client == client; });
    if (found != clients->end()) {
      clients->erase(found);
      hr = S_OK;
    }
    bool stop = !AnyDelivering();
    LeaveCriticalSection(&clientsLock);
    if (stop) StopWatcher();
  }
  LeaveCriticalSection(&lifecycle);
  if (hr == S_OK) {
    InterlockedDecrement(&registeredClients);
    client->Release();
  }
  return hr;
}

}  // namespace coreaudio
