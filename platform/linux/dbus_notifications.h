// DbusNotifications: the distributed notification centre on the user's D-Bus session bus. A
// post is one broadcast signal carrying the name, the sender's object string and the
// user-information dictionary; every process observing the name (the poster included) gets it
// on its run loop.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/plist/value.h"
#include "platform/api/notifications.h"

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace vl::linux_ {

class SdEventRunLoop;

// The signal that carries a notification, signature "ssa{sv}".
inline constexpr const char* kNotificationsPath = "/org/velmora/Notifications";
inline constexpr const char* kNotificationsInterface = "org.velmora.Notifications";
inline constexpr const char* kNotificationsMember = "Posted";

// Property-list values as D-Bus variants, losslessly: booleans "b"; integers keep their
// signedness in the narrowest of "i"/"x" (signed) or "u"/"t" (unsigned) that holds them;
// reals "d"; strings "s"; data "ay"; dates "(d)" (seconds since 2001); arrays "av";
// dictionaries "a{sv}". Nulls are left out of containers, as the property-list writers do.
// Appending fails for values D-Bus cannot carry: keyed-archive uids and strings that are not
// UTF-8.
Status appendVariant(sd_bus_message* m, const pl::Value& v);
Status appendDict(sd_bus_message* m, const pl::Dict& d);
// Reads one variant (the message positioned at it); nullopt on anything malformed or of a
// type with no property-list form.
std::optional<pl::Value> readVariant(sd_bus_message* m, int depth = 0);
std::optional<pl::Dict> readDict(sd_bus_message* m, int depth = 0);

class DbusNotifications : public Notifications {
 public:
  // Connects to the user's session bus ($DBUS_SESSION_BUS_ADDRESS), or to address when given,
  // and delivers on loop. A failure when the bus cannot be reached.
  static Result<std::unique_ptr<DbusNotifications>> connect(SdEventRunLoop& loop, const std::string& address = "");
  struct Key {
    explicit Key() = default;
  };
  explicit DbusNotifications(Key);  // use connect
  ~DbusNotifications() override;
  DbusNotifications(const DbusNotifications&) = delete;
  DbusNotifications& operator=(const DbusNotifications&) = delete;

  Status post(const std::string& name, const std::string& object, const pl::Dict& userInfo) override;
  Token addObserver(const std::string& name, Handler handler) override;
  void removeObserver(Token t) override;

  // Messages dropped because they were malformed (for diagnostics and tests).
  uint64_t droppedCount() const { return dropped_; }
  // Why the last post failed.
  const std::string& lastError() const { return lastError_; }
  // Sends what is queued; the destructor does it too, so posts made just before exit go out.
  void flush();
  // The address of the bus this centre is connected to (what another process passes to
  // connect to reach it); empty when the bus does not say.
  std::string address() const;

 private:
  // The post itself.
  Status send(const std::string& name, const std::string& object, const pl::Dict& userInfo);
  void deliver(sd_bus_message* m);

  sd_bus* bus_ = nullptr;
  sd_bus_slot* match_ = nullptr;
  std::map<Token, std::pair<std::string, Handler>> observers_;
  Token nextToken_ = 1;
  uint64_t dropped_ = 0;
  std::string lastError_;
};

}  // namespace vl::linux_
