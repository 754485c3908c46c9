// QS802DeviceClass: the stored settings of one pointing device, with the transient state that
// ties it to the HID services attached for it, its five favourite speeds, its dictionary form,
// and the pane's status extensions (connection status, data for the curve graph).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/devices/device_definition.h"
#include "core/errors/error_stack.h"
#include "core/plist/value.h"
#include "core/store/managed_object.h"
#include "core/store/record_names.h"
#include "platform/api/hid.h"

namespace vl {

class QS805CursorSpeedClass;
class QS803AppClass;
struct AppObject;

inline constexpr double kDefaultPointerResolution = 400;
inline constexpr const char* kDefaultDeviceName = "Device";

// Connection status of a device as the pane shows it.
enum VL702Status : int {
  kVL702NotConnected = 0,
  kVL702Disabled = 1,      // connected, this system turned off for the device
  kVL702OtherDriver = 2,   // connected, another vendor's driver drives it
  kVL702Controlled = 3,
};

class QS802DeviceClass : public ManagedObject {
 public:
  QS802DeviceClass() = default;

  // --- Class operations ------------------------------------------------------------------------
  // "%x-%x-%x-%@": lower-case hexadecimal without padding, then the transport.
  static std::string indexWithVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport);
  // Indexes are equal when their texts are equal (never by a hash of them, which can collide).
  static bool compareIndex(const std::string& a, const std::string& b);
  static const std::vector<std::string>& excludeDeviceKeysForImport();
  // Keys whose change changes a derived value (for observers): displayName depends on name.
  static std::vector<std::string> keyPathsForValuesAffecting(const std::string& key);

  // --- Stored attributes -----------------------------------------------------------------------
  uint32_t vid() const { return value(attr::device::vid).unsignedIntValue(); }
  uint32_t pid() const { return value(attr::device::pid).unsignedIntValue(); }
  uint32_t mid() const { return value(attr::device::mid).unsignedIntValue(); }
  std::optional<std::string> transport() const { return text(attr::device::transport); }
  std::optional<std::string> registryName() const { return text(attr::device::registryName); }
  std::optional<std::string> pointerResolution() const { return text(attr::device::pointerResolution); }
  std::optional<std::string> name() const { return text(attr::device::name); }
  const pl::Value& expansionData() const { return value(attr::device::expansionData); }
  bool cursorSpeedDisabled() const { return value(attr::device::cursorSpeedDisabled).boolValue(); }
  // Null reads as 0.
  int64_t cursorSpeedSelectedIndex() const { return value(attr::device::cursorSpeedSelectedIndex).longLongValue(); }
  std::optional<pl::Date> cursorSpeedDate() const;
  const pl::Value& partName() const { return value(attr::device::partName); }
  std::optional<std::string> viewScaleX() const { return text(attr::device::viewScaleX); }
  std::optional<std::string> viewScaleY() const { return text(attr::device::viewScaleY); }

  void setVid(uint32_t v) { setValue(attr::device::vid, pl::Value::uint32(v)); }
  void setPid(uint32_t v) { setValue(attr::device::pid, pl::Value::uint32(v)); }
  void setMid(uint32_t v) { setValue(attr::device::mid, pl::Value::uint32(v)); }
  void setTransport(const std::optional<std::string>& v) { setText(attr::device::transport, v); }
  void setRegistryName(const std::optional<std::string>& v) { setText(attr::device::registryName, v); }
  void setPointerResolution(const std::optional<std::string>& v) { setText(attr::device::pointerResolution, v); }
  void setName(const std::optional<std::string>& v) { setText(attr::device::name, v); }
  void setCursorSpeedDisabled(bool v) { setValue(attr::device::cursorSpeedDisabled, pl::Value(v)); }
  void setCursorSpeedSelectedIndex(std::optional<int64_t> v);
  void setCursorSpeedDate(std::optional<pl::Date> v);
  void setViewScaleX(const std::optional<std::string>& v) { setText(attr::device::viewScaleX, v); }
  void setViewScaleY(const std::optional<std::string>& v) { setText(attr::device::viewScaleY, v); }

  // --- Relationships ---------------------------------------------------------------------------
  std::vector<QS805CursorSpeedClass*> cursorSpeeds() const;
  void addCursorSpeedsObject(QS805CursorSpeedClass* cs);
  void removeCursorSpeedsObject(QS805CursorSpeedClass* cs);
  std::vector<QS803AppClass*> applications() const;
  void addApplicationsObject(QS803AppClass* app);
  void removeApplicationsObject(QS803AppClass* app);

  // --- Identity and names ----------------------------------------------------------------------
  // Initialises a newly inserted record from a service's identity and registry entry; null
  // after pushing 8020136 when vid is 0, the transport empty or there is no entry.
  QS802DeviceClass* initWithVID(uint32_t vid, uint32_t pid, uint32_t mid, const std::string& transport,
                                RegistryId registry);
  std::string index() const;
  bool isEqualToIndex(const std::string& other) const { return compareIndex(index(), other); }
  std::string displayName() const;
  void setDisplayName(const std::string& text);
  std::optional<std::string> ddefName() const;
  bool isAppleInternalTrackpad() const;
  bool isAppleTrackpad() const;
  bool isAppleGestureDevice() const;

  // --- Drivers and attached services (transient) -----------------------------------------------
  bool isAppleDriver() const;
  bool isDrovanaDriver() const;
  bool isOtherDriver() const;
  [[nodiscard]] int32_t addClient(const ServiceRef& client);
  void removeClient(const ServiceRef& client);
  void removeClient(const HidServiceClient* client);
  void removeAllClients();
  const std::vector<ServiceRef>& clientList() const { return clients_; }
  bool hasClient(const HidServiceClient* client) const;
  const std::optional<pl::Value>& locationID() const { return locationID_; }
  void setLocationID(std::optional<pl::Value> v) { locationID_ = std::move(v); }
  const std::optional<std::string>& driverManufacture() const { return driver_; }
  void setDriverManufacture(std::optional<std::string> v) { driver_ = std::move(v); }
  const DeviceDefinitionRef& deviceDefinition() const { return definition_; }
  void setDeviceDefinition(DeviceDefinitionRef d) { definition_ = std::move(d); }
  void clearDriverInfo();
  [[nodiscard]] int32_t updateDriverInfoWithRegistry(RegistryId entry);
  // "HIDPointerResolution" found for the entry; 400 when there is none.
  double searchPointerResolution(RegistryId entry) const;
  // A key of the device definition (null without definition or key).
  const pl::Value* deviceDefinitionValueForKey(const std::string& key) const;

  // --- Free-form dictionaries ------------------------------------------------------------------
  const pl::Value* expansionDataForKey(const std::string& key) const;
  void setExpansionData(const pl::Value& value, const std::string& key);
  std::string expantionDataDebug() const;
  void setExpantionDataDebug(const std::string& text);
  std::string partNameDebug() const;
  void setPartNameDebug(const std::string& text);

  // --- Favourites and applications -------------------------------------------------------------
  // Five favourites (index 0..4) unless the device has any; negative values mean the defaults.
  // Null after pushing 8020703 when one cannot be made.
  QS802DeviceClass* insert5CursorSpeedsWithSens(double sensitivity, double acceleration);
  // Null after pushing 8020720.
  QS802DeviceClass* insertCursorSpeedWithCSDic(const pl::Dict& dic);
  // The favourite at cursorSpeedSelectedIndex; when none has that index, the lowest-indexed one.
  QS805CursorSpeedClass* selectedCursorSpeed() const;
  QS803AppClass* insertApplicationWithObject(const AppObject& object);
  QS803AppClass* defApplication() const;
  QS803AppClass* insertDefApplication();
  void removeAllApplications();
  void removeAllCursorSpeeds();
  // Stamps cursorSpeedDate (without undo step or notification) when speed settings changed.
  void updateCursorSpeedDate();

  // --- Dictionary form -------------------------------------------------------------------------
  pl::Dict devDic() const;
  QS802DeviceClass* initWithDevDic(const pl::Dict& dic);
  QS802DeviceClass* importFromDevDic(const pl::Dict& dic);
  QS802DeviceClass* initRelationshipsWithDevDic(const pl::Dict& dic);

  // --- Status for the pane (quillonVL702) ------------------------------------------------------
  [[nodiscard]] int32_t VL702addClient(const ServiceRef& client);
  void VL702removeClient(const ServiceRef& client);
  void VL702clearDriverInfo();
  int VL702status() const;
  // The platform image name of the status.
  const char* VL702statusIcon() const;
  bool VL702isEnabled() const { return VL702status() > 1; }
  bool VL702isConnected() const { return VL702status() > 0; }
  bool VL702hasError() const { return VL702status() != kVL702Controlled; }
  std::set<uint64_t> VL702cursorSpeedSelectedIndexes() const;
  void setVL702cursorSpeedSelectedIndexes(const std::set<uint64_t>& indexes);
  const std::optional<pl::Value>& VL702acclTable() const { return acclTable_; }
  const std::optional<pl::Value>& VL702acclCurves() const { return acclCurves_; }
  bool VL702readyForGraph() const { return readyForGraph_; }

 protected:
  void awake() override;
  void willTurnIntoFault() override;

 private:
  std::optional<std::string> text(int a) const;
  void setText(int a, const std::optional<std::string>& v);

  std::vector<ServiceRef> clients_;
  std::optional<pl::Value> locationID_;
  std::optional<std::string> driver_;
  DeviceDefinitionRef definition_;
  std::optional<pl::Value> acclTable_;
  std::optional<pl::Value> acclCurves_;
  bool readyForGraph_ = false;
};

// Accessors of device dictionaries (the dictionary form and exchange files).
namespace devdic {
uint32_t vid(const pl::Dict& d);
uint32_t pid(const pl::Dict& d);
uint32_t mid(const pl::Dict& d);
const pl::Value* transport(const pl::Dict& d);
const pl::Value* applications(const pl::Dict& d);
const pl::Value* cursorSpeeds(const pl::Dict& d);
std::string deviceName(const pl::Dict& d);
double pointerResolution(const pl::Dict& d);
double viewScaleX(const pl::Dict& d);
double viewScaleY(const pl::Dict& d);
int32_t buttonCount(const pl::Dict& d);
std::string deviceIndex(const pl::Dict& d);
// Store the array under "applications" / "cursorSpeeds", or remove the key for an empty one.
void setApplications(pl::Dict& d, pl::Array a);
void setCursorSpeeds(pl::Dict& d, pl::Array a);
}  // namespace devdic

}  // namespace vl
