// DbusNotifications: the notification signal on sd-bus, and the lossless mapping between
// property-list values and D-Bus variants. Everything read from the bus is checked; a message
// that does not have exactly the expected shape is dropped.
#include "platform/linux/dbus_notifications.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <limits>
#include <vector>

#include "platform/linux/sd_event_runloop.h"

namespace vl::linux_ {

namespace {

// A notification needs a few levels; D-Bus itself would allow 64 containers.
constexpr int kMaxDepth = 16;

Status fail(const std::string& msg) { return Status::failure(1, msg); }

std::string errorText(int r) { return std::strerror(r < 0 ? -r : r); }

// D-Bus refuses strings that are not UTF-8 or that hold a NUL; checked before sending so a
// post fails cleanly instead of corrupting the message.
bool validUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n = 0;
    uint32_t cp = 0;
    if ((c >> 5) == 0x6) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c >> 4) == 0xE) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c >> 3) == 0x1E) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 0x2) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// Each append step: r < 0 becomes a message naming what failed.
Status ok(int r) { return r >= 0 ? Status::success() : fail("cannot build the message: " + errorText(r)); }

Status appendInteger(sd_bus_message* m, const pl::Value& v) {
  const pl::Integer* i = v.asInteger();
  if (i->isUnsigned) {
    if (i->bits <= std::numeric_limits<uint32_t>::max()) {
      uint32_t u = static_cast<uint32_t>(i->bits);
      return ok(sd_bus_message_append(m, "v", "u", u));
    }
    uint64_t t = i->bits;
    return ok(sd_bus_message_append(m, "v", "t", t));
  }
  int64_t s = static_cast<int64_t>(i->bits);
  if (s >= std::numeric_limits<int32_t>::min() && s <= std::numeric_limits<int32_t>::max()) {
    int32_t n = static_cast<int32_t>(s);
    return ok(sd_bus_message_append(m, "v", "i", n));
  }
  return ok(sd_bus_message_append(m, "v", "x", s));
}

Status appendArray(sd_bus_message* m, const pl::Array& a) {
  if (Status s = ok(sd_bus_message_open_container(m, 'a', "v")); !s) return s;
  for (const auto& e : a) {
    if (e.isNull()) continue;
    if (Status s = appendVariant(m, e); !s) return s;
  }
  return ok(sd_bus_message_close_container(m));
}

// A container variant of signature contents whose inside append writes.
template <class Append>
Status appendContainer(sd_bus_message* m, const char* contents, Append append) {
  if (Status s = ok(sd_bus_message_open_container(m, 'v', contents)); !s) return s;
  if (Status s = append(); !s) return s;
  return ok(sd_bus_message_close_container(m));
}

}  // namespace

Status appendVariant(sd_bus_message* m, const pl::Value& v) {
  switch (v.type()) {
    case pl::Type::Boolean: {
      int b = v.boolValue() ? 1 : 0;
      return ok(sd_bus_message_append(m, "v", "b", b));
    }
    case pl::Type::Integer: return appendInteger(m, v);
    case pl::Type::Real: {
      double d = v.doubleValue();
      return ok(sd_bus_message_append(m, "v", "d", d));
    }
    case pl::Type::String:
      if (!validUtf8(*v.asString())) return fail("a string is not UTF-8");
      return ok(sd_bus_message_append(m, "v", "s", v.asString()->c_str()));
    case pl::Type::Data: {
      const pl::Data& d = *v.asData();
      return appendContainer(m, "ay", [&] { return ok(sd_bus_message_append_array(m, 'y', d.data(), d.size())); });
    }
    case pl::Type::Date: {
      double s = v.asDate()->seconds;
      return ok(sd_bus_message_append(m, "v", "(d)", s));
    }
    case pl::Type::Array: return appendContainer(m, "av", [&] { return appendArray(m, *v.asArray()); });
    case pl::Type::Dict: return appendContainer(m, "a{sv}", [&] { return appendDict(m, *v.asDict()); });
    case pl::Type::Null: return fail("a null has no D-Bus form");
    case pl::Type::Uid: return fail("a keyed-archive uid has no D-Bus form");
  }
  return fail("unknown value type");
}

Status appendDict(sd_bus_message* m, const pl::Dict& d) {
  if (Status s = ok(sd_bus_message_open_container(m, 'a', "{sv}")); !s) return s;
  for (const auto& [k, v] : d) {
    if (v.isNull()) continue;
    if (!validUtf8(k)) return fail("a dictionary key is not UTF-8");
    if (Status s = ok(sd_bus_message_open_container(m, 'e', "sv")); !s) return s;
    if (Status s = ok(sd_bus_message_append_basic(m, 's', k.c_str())); !s) return s;
    if (Status s = appendVariant(m, v); !s) return s;
    if (Status s = ok(sd_bus_message_close_container(m)); !s) return s;
  }
  return ok(sd_bus_message_close_container(m));
}

namespace {

std::optional<pl::Array> readArray(sd_bus_message* m, int depth) {
  if (sd_bus_message_enter_container(m, 'a', "v") <= 0) return std::nullopt;
  pl::Array out;
  while (true) {
    int r = sd_bus_message_at_end(m, 0);
    if (r < 0) return std::nullopt;
    if (r > 0) break;
    auto v = readVariant(m, depth + 1);
    if (!v) return std::nullopt;
    out.push_back(std::move(*v));
  }
  if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
  return out;
}

template <class T>
std::optional<T> readBasic(sd_bus_message* m, char type) {
  T v{};
  if (sd_bus_message_read_basic(m, type, &v) <= 0) return std::nullopt;
  return v;
}

// The value inside a variant whose contents signature is sig (the variant already entered).
std::optional<pl::Value> readContents(sd_bus_message* m, const char* sig, int depth) {
  std::string s = sig;
  if (s == "b") {
    auto v = readBasic<int>(m, 'b');
    if (!v) return std::nullopt;
    return pl::Value(*v != 0);
  }
  if (s == "y") {
    auto v = readBasic<uint8_t>(m, 'y');
    if (!v) return std::nullopt;
    return pl::Value::uint64(*v);
  }
  if (s == "q") {
    auto v = readBasic<uint16_t>(m, 'q');
    if (!v) return std::nullopt;
    return pl::Value::uint64(*v);
  }
  if (s == "u") {
    auto v = readBasic<uint32_t>(m, 'u');
    if (!v) return std::nullopt;
    return pl::Value::uint64(*v);
  }
  if (s == "t") {
    auto v = readBasic<uint64_t>(m, 't');
    if (!v) return std::nullopt;
    return pl::Value::uint64(*v);
  }
  if (s == "n") {
    auto v = readBasic<int16_t>(m, 'n');
    if (!v) return std::nullopt;
    return pl::Value::int64(*v);
  }
  if (s == "i") {
    auto v = readBasic<int32_t>(m, 'i');
    if (!v) return std::nullopt;
    return pl::Value::int64(*v);
  }
  if (s == "x") {
    auto v = readBasic<int64_t>(m, 'x');
    if (!v) return std::nullopt;
    return pl::Value::int64(*v);
  }
  if (s == "d") {
    auto v = readBasic<double>(m, 'd');
    if (!v) return std::nullopt;
    return pl::Value(*v);
  }
  if (s == "s" || s == "o" || s == "g") {
    const char* str = nullptr;
    if (sd_bus_message_read_basic(m, s[0], &str) <= 0 || !str) return std::nullopt;
    return pl::Value(std::string(str));
  }
  if (s == "ay") {
    const void* p = nullptr;
    size_t n = 0;
    if (sd_bus_message_read_array(m, 'y', &p, &n) < 0) return std::nullopt;
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return pl::Value(pl::Data(b, b + n));
  }
  if (s == "(d)") {
    double d = 0;
    if (sd_bus_message_read(m, "(d)", &d) <= 0) return std::nullopt;
    return pl::Value(pl::Date{d});
  }
  if (s == "av") {
    auto a = readArray(m, depth);
    if (!a) return std::nullopt;
    return pl::Value(std::move(*a));
  }
  if (s == "a{sv}") {
    auto d = readDict(m, depth);
    if (!d) return std::nullopt;
    return pl::Value(std::move(*d));
  }
  // File descriptors, other structures and typed arrays have no place in a notification.
  return std::nullopt;
}

}  // namespace

std::optional<pl::Value> readVariant(sd_bus_message* m, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'v' || !contents) return std::nullopt;
  std::string sig = contents;  // contents points into the message; keep a copy across reads
  if (sd_bus_message_enter_container(m, 'v', sig.c_str()) <= 0) return std::nullopt;
  auto v = readContents(m, sig.c_str(), depth);
  if (!v) return std::nullopt;
  if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
  return v;
}

std::optional<pl::Dict> readDict(sd_bus_message* m, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return std::nullopt;
  pl::Dict out;
  while (true) {
    int r = sd_bus_message_enter_container(m, 'e', "sv");
    if (r < 0) return std::nullopt;
    if (r == 0) break;
    const char* key = nullptr;
    if (sd_bus_message_read_basic(m, 's', &key) <= 0 || !key) return std::nullopt;
    std::string k = key;
    auto v = readVariant(m, depth + 1);
    if (!v) return std::nullopt;
    if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
    out[std::move(k)] = std::move(*v);
  }
  if (sd_bus_message_exit_container(m) < 0) return std::nullopt;
  return out;
}

// --- The centre ------------------------------------------------------------------------------

Result<std::unique_ptr<DbusNotifications>> DbusNotifications::connect(SdEventRunLoop& loop,
                                                                      const std::string& address) {
  auto n = std::make_unique<DbusNotifications>(Key{});
  int r = 0;
  if (address.empty()) {
    r = sd_bus_open_user(&n->bus_);
  } else {
    r = sd_bus_new(&n->bus_);
    if (r >= 0) r = sd_bus_set_address(n->bus_, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(n->bus_, 1);
    if (r >= 0) r = sd_bus_start(n->bus_);
  }
  if (r < 0) return fail("cannot connect to the session bus: " + errorText(r));
  std::string rule = std::string("type='signal',path='") + kNotificationsPath + "',interface='" +
                     kNotificationsInterface + "',member='" + kNotificationsMember + "'";
  // Synchronous, so the match is in place at the bus before the first post of this process.
  auto onSignal = [](sd_bus_message* m, void* self, sd_bus_error*) -> int {
    static_cast<DbusNotifications*>(self)->deliver(m);
    return 0;
  };
  r = sd_bus_add_match(n->bus_, &n->match_, rule.c_str(), onSignal, n.get());
  if (r < 0) return fail("cannot subscribe to notifications: " + errorText(r));
  r = sd_bus_attach_event(n->bus_, loop.event(), 0);
  if (r < 0) return fail("cannot attach the bus to the run loop: " + errorText(r));
  return n;
}

DbusNotifications::DbusNotifications(Key) {}

std::string DbusNotifications::address() const {
  const char* a = nullptr;
  if (!bus_ || sd_bus_get_address(bus_, &a) < 0 || !a) return "";
  return a;
}

DbusNotifications::~DbusNotifications() {
  if (match_) sd_bus_slot_unref(match_);
  if (bus_) {
    sd_bus_flush(bus_);
    sd_bus_detach_event(bus_);
    sd_bus_flush_close_unref(bus_);
  }
}

void DbusNotifications::flush() {
  if (bus_) sd_bus_flush(bus_);
}

Status DbusNotifications::post(const std::string& name, const std::string& object, const pl::Dict& userInfo) {
  Status sent = send(name, object, userInfo);
  if (!sent) lastError_ = sent.detail();
  return sent;
}

Status DbusNotifications::send(const std::string& name, const std::string& object, const pl::Dict& userInfo) {
  if (!validUtf8(name) || !validUtf8(object)) return fail("the name or object is not UTF-8");
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_signal(bus_, &m, kNotificationsPath, kNotificationsInterface, kNotificationsMember);
  if (r < 0) return fail("cannot make the signal: " + errorText(r));
  std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)> msg(m, sd_bus_message_unref);
  if (Status s = ok(sd_bus_message_append(m, "ss", name.c_str(), object.c_str())); !s) return s;
  if (Status s = appendDict(m, userInfo); !s) return s;
  r = sd_bus_send(bus_, m, nullptr);
  if (r < 0) return fail("cannot send the signal: " + errorText(r));
  return Status::success();
}

Notifications::Token DbusNotifications::addObserver(const std::string& name, Handler handler) {
  Token t = nextToken_++;
  observers_[t] = {name, std::move(handler)};
  return t;
}

void DbusNotifications::removeObserver(Token t) { observers_.erase(t); }

void DbusNotifications::deliver(sd_bus_message* m) {
  const char* sig = sd_bus_message_get_signature(m, 1);
  const char* name = nullptr;
  const char* object = nullptr;
  if (!sig || std::strcmp(sig, "ssa{sv}") != 0 || sd_bus_message_read(m, "ss", &name, &object) < 0 || !name ||
      !object) {
    ++dropped_;
    return;
  }
  std::string n = name, o = object;
  auto info = readDict(m, 0);
  if (!info) {
    ++dropped_;
    return;
  }
  // Observers may come and go while others run; each is looked up again before its call.
  std::vector<Token> tokens;
  for (const auto& [t, entry] : observers_)
    if (entry.first == n) tokens.push_back(t);
  for (Token t : tokens) {
    auto it = observers_.find(t);
    if (it == observers_.end()) continue;
    Handler h = it->second.second;
    if (h) h(n, o, *info);
  }
}

}  // namespace vl::linux_
