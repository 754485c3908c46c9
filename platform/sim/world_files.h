// The world folder's file models: what each property-list file holds, how it is read (strictly:
// a wrong shape is an error naming the file) and written, and the locked, atomic file access.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "platform/api/hid.h"
#include "platform/api/input_sources.h"
#include "platform/api/screens.h"
#include "platform/api/session.h"
#include "platform/api/status.h"
#include "platform/api/workspace.h"
#include "platform/sim/sim_mac.h"

namespace vl::sim::world {

inline constexpr int64_t kFormatVersion = 1;

struct Device {
  RegistryId id = 0;
  std::string profile, name;
  double attached = 0;
  pl::Value fixture;
};

struct DevicesFile {
  uint64_t nextBlock = 0;
  std::vector<Device> devices;
};

struct PropertiesFile {
  std::map<RegistryId, pl::Dict> services;
};

struct SystemFile {
  std::map<std::string, double> acceleration;
  SessionState session;
  std::vector<Rect> screens{{0, 0, 1440, 900}};
  uint64_t displayChanges = 0;
  std::map<int16_t, uint32_t> keyboardLayouts;  // handler id -> layout type ('ISO ', 'JIS ', ...)
};

struct ApplicationsFile {
  int32_t nextPid = 500;
  std::vector<RunningApplication> running;
  // Applications that are real processes of this machine (the agent), by process identifier.
  std::set<int32_t> hostProcesses;
  // When each simulated application started, seconds since the epoch.
  std::map<int32_t, double> startTimes;
};

struct HistoryChunk {
  std::vector<PropertyWrite> writes;
};

// Live input for other processes: the most recent events, numbered; each process hands on
// those numbered after the last it saw, once, and never its own.
struct InputEvent {
  uint64_t seq = 0;
  std::string writer;             // the World object that posted it
  RegistryId device = 0;          // the HID device of an input report; 0 for a mouse movement
  std::vector<HidInputValue> values;
  double deltaX = 0, deltaY = 0;  // of a mouse movement
};
struct InputFile {
  uint64_t nextSeq = 1;
  std::vector<InputEvent> events;
};
// How many events the file keeps: a process further behind than that misses the oldest, which
// are stale for a live indicator anyway; a short file keeps each movement cheap to share.
inline constexpr size_t kInputEventLimit = 32;

// Each parse takes a file's root value and fails with a one-line reason.
Status parse(const pl::Value& root, DevicesFile* out);
Status parse(const pl::Value& root, PropertiesFile* out);
Status parse(const pl::Value& root, SystemFile* out);
Status parse(const pl::Value& root, ApplicationsFile* out);
Status parse(const pl::Value& root, HistoryChunk* out);
Status parse(const pl::Value& root, InputFile* out);
pl::Value toValue(const DevicesFile& f);
pl::Value toValue(const PropertiesFile& f);
pl::Value toValue(const SystemFile& f);
pl::Value toValue(const ApplicationsFile& f);
pl::Value toValue(const HistoryChunk& f);
pl::Value toValue(const InputFile& f);

std::string hexId(RegistryId id);
std::optional<RegistryId> parseHexId(const std::string& text);

// The first registry id of block n, and whether id starts a block.
RegistryId blockId(uint64_t n);
bool isBlockStart(RegistryId id);

// The number of registry entries a fixture's tree makes.
size_t entryCount(const pl::Value& tree);
// The fixture with the properties of overrides (by registry id, counted from base in the
// order the simulated Mac numbers entries: depth first, parent before children) put in.
pl::Value withOverrides(const pl::Value& fixture, RegistryId base, const std::map<RegistryId, pl::Dict>& overrides);

// A file's bytes; a failure when it exists but cannot be read. A missing file reads as empty.
Result<std::string> readBytes(const std::string& path);
// Parses bytes (empty: the model's defaults) into a model, naming path in the error.
template <class Model>
Status parseBytes(const std::string& path, const std::string& bytes, Model* out);
// Writes a model as an XML property list, atomically; returns the bytes written.
Result<std::string> writeModel(const std::string& path, const pl::Value& v);

// An flock held for the life of the object.
class FileLock {
 public:
  FileLock(int fd, bool exclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

std::string errnoText(int e);

}  // namespace vl::sim::world
