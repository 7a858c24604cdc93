#pragma once
// The simulated machine's audio world: every endpoint with its state, levels and listen
// settings, and the default endpoint per flow and role. It lives in one human-readable file
// (world.txt in the simulator directory) that every reader parses afresh, so a test can change
// the world between two polls of the program. Writers serialise through a lock directory
// (mkdir is atomic, also from bash) and replace the file by renaming a complete temporary
// copy, so a reader never sees half a world.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace audiosim {

enum Flow : int { kRender = 0, kCapture = 1 };
enum Role : int { kConsole = 0, kMultimedia = 1, kCommunications = 2 };
constexpr int kRoles = 3;

// Windows' DEVICE_STATE_* values.
constexpr std::uint32_t kStateActive = 1;
constexpr std::uint32_t kStateDisabled = 2;
constexpr std::uint32_t kStateNotPresent = 4;
constexpr std::uint32_t kStateUnplugged = 8;

struct Endpoint {
  std::wstring id;
  Flow flow = kRender;
  std::wstring name;
  std::wstring alias;   // short handle for people and tests ("bridge-in"); moves on a re-plug
  std::wstring device;  // endpoints of one physical device share this key
  bool present = true;
  bool enabled = true;
  // A card with jack detection whose jack is empty: the endpoint stays known and enabled but
  // is not active (DEVICE_STATE_UNPLUGGED), unless it is disabled, which Windows shows first.
  bool jackUnplugged = false;
  std::uint64_t enableAtMs = 0;  // a pending enable that takes effect at this time (0: none)
  double volume = 1.0;
  bool mute = false;
  bool effectsOn = false;      // false: PKEY_AudioEndpoint_Disable_SysFx = ENDPOINT_SYSFX_DISABLED
  bool listen = false;         // capture only: "Listen to this device"
  std::wstring listenTarget;   // capture only: playback target id, empty for the default device
  bool volumeStuck = false;    // volume and mute writes are accepted but change nothing
  bool effectsLocked = false;  // writes of the enhancements switch are refused
};

struct World {
  std::vector<Endpoint> endpoints;  // in the platform's enumeration order
  std::wstring defaults[2][kRoles];  // [flow][role], empty for none
  bool plugTakesDefault = false;     // an endpoint that is plugged in or enabled becomes the default
};

// Milliseconds since 1601 on the system clock, shared by all processes.
std::uint64_t NowMs();

// The state Windows would report now (a pending enable counts once its time has come).
std::uint32_t EffectiveState(const Endpoint& endpoint, std::uint64_t nowMs);

// Sets one field by the name it has in the world file ("volume_stuck", "listen", ...). The
// value is written as in the file: \r, \n, \t and \\ stand for CR, LF, tab and a
// backslash.
bool SetEndpointField(Endpoint& endpoint, const std::wstring& key, const std::wstring& value);

// The file form of a text value and back. The file holds one record per line and one field
// per tab, so a name with line breaks or tabs, as a broken or hostile driver may report it,
// is escaped to stay one field.
std::wstring EscapeField(const std::wstring& text);
std::wstring UnescapeField(const std::wstring& text);

std::string SerializeWorld(const World& world);
bool ParseWorld(const std::string& text, World& world);

World DefaultWorld();

// Reading: false when the file is missing or malformed.
bool LoadWorld(World& world);
// Read-modify-write under the lock. The change returns false to abandon without writing.
bool UpdateWorld(const std::function<bool(World&)>& change);
bool SaveWorld(const World& world);  // replaces the whole world under the lock

Endpoint* FindEndpoint(World& world, const std::wstring& idOrAlias);
const Endpoint* FindEndpoint(const World& world, const std::wstring& idOrAlias);

// Changes as Windows makes them. Each keeps the defaults valid: an endpoint that stops being
// active loses its default roles to the first active endpoint of its flow (none if none is
// left), and a flow without a default takes the first endpoint that becomes active.
void SetEnabled(World& world, Endpoint& endpoint, bool enabled);
void SetJackPlugged(World& world, Endpoint& endpoint, bool plugged);
void SetPresent(World& world, const std::wstring& device, bool present);
void SetDefaultAllRoles(World& world, const Endpoint& endpoint);
// The device comes back as a new instance: its endpoints stay behind as not present, and new
// endpoints with new ids and Windows' "2- " numbering in the name take their place.
bool ReplugAsNewInstance(World& world, const std::wstring& device);

std::wstring NumberedName(const std::wstring& name);  // "Speakers (X)" -> "Speakers (2- X)"
std::wstring NewEndpointId(Flow flow);

}  // namespace audiosim
