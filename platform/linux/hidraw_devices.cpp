// HID devices over /dev/hidrawN.
#include "platform/linux/hidraw_devices.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>

namespace vl::linux_ {

namespace {

class Queue;

}  // namespace

class HidrawDevices::Device : public HidDevice {
 public:
  Device(HidrawDevices& owner, RegistryId entry, UdevHidNode node, std::string devNode)
      : owner_(owner), entry_(entry), node_(std::move(node)), devNode_(std::move(devNode)),
        desc_(parseReportDescriptor(node_.descriptor)) {}
  ~Device() override { close(); }

  RegistryId service() const override { return owner_.machine_.registry().exists(entry_) ? entry_ : 0; }
  int32_t open() override {
    if (fd_ >= 0) return kIOReturnSuccess;
    if (devNode_.empty()) devNode_ = owner_.machine_.hidrawNodeFor(node_.hidSysPath);
    if (devNode_.empty()) return kIOReturnNotFound;
    fd_ = owner_.opener_ ? owner_.opener_(devNode_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)
                         : ::open(devNode_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      int e = errno;
      if (e == EACCES || e == EPERM) {
        owner_.permissionDenied(devNode_);
        return kIOReturnNotPermitted;
      }
      if (e == EBUSY) return kIOReturnExclusiveAccess;
      return e == ENOENT || e == ENODEV || e == ENXIO ? kIOReturnNotFound : kIOReturnError;
    }
    gone_ = false;
    owner_.opened(this);
    return kIOReturnSuccess;
  }
  void close() override {
    if (fd_ < 0) return;
    owner_.closed(this);
    ::close(fd_);
    fd_ = -1;
  }
  std::vector<pl::Dict> copyMatchingElements(const pl::Dict& matching) override {
    std::vector<pl::Dict> out;
    for (const auto& e : desc_.elements) {
      pl::Dict d = HidReportDescriptor::elementDict(e);
      bool ok = true;
      for (const auto& [k, v] : matching) {
        auto it = d.find(k);
        ok = ok && it != d.end() && it->second.isNumber() && v.isNumber() && it->second.longLongValue() == v.longLongValue();
      }
      if (ok) out.push_back(std::move(d));
    }
    return out;
  }
  std::unique_ptr<HidQueue> createQueue(int depth) override;
  int32_t setReport(int type, uint32_t reportID, const pl::Data& bytes) override {
    if (fd_ < 0 || gone_) return gone_ ? kIOReturnNotFound : kIOReturnError;
    if (bytes.empty() || bytes.size() > 4096) return kIOReturnError;
    // hidraw wants the report id first; the platform's callers already put it there.
    pl::Data buf;
    if (reportID != 0 && bytes[0] != reportID) buf.push_back(static_cast<uint8_t>(reportID));
    buf.insert(buf.end(), bytes.begin(), bytes.end());
    ssize_t n = -1;
    if (type == kIOHIDReportTypeOutput) {
      n = ::write(fd_, buf.data(), buf.size());
    } else if (type == kIOHIDReportTypeFeature) {
      n = ::ioctl(fd_, HIDIOCSFEATURE(buf.size()), buf.data());
    } else {
      return kIOReturnError;
    }
    if (n < 0) {
      if (errno == ENODEV || errno == EIO || errno == EPIPE || errno == ESHUTDOWN) gone_ = true;
      return gone_ ? kIOReturnNotFound : kIOReturnError;
    }
    return static_cast<size_t>(n) == buf.size() ? kIOReturnSuccess : kIOReturnError;
  }

  int fd() const { return fd_; }
  // Reads what the node holds now and hands each report to the started queues.
  void drain();
  void attach(Queue* q) { queues_.push_back(q); }
  void detach(Queue* q) { queues_.erase(std::remove(queues_.begin(), queues_.end(), q), queues_.end()); }
  const HidReportDescriptor& descriptor() const { return desc_; }

 private:
  void offer(uint32_t reportID, pl::Data payload);
  HidrawDevices& owner_;
  RegistryId entry_;
  UdevHidNode node_;
  std::string devNode_;
  HidReportDescriptor desc_;
  int fd_ = -1;
  bool gone_ = false;
  std::vector<Queue*> queues_;
};

namespace {

class Queue : public HidQueue {
 public:
  Queue(HidrawDevices::Device& device, size_t depth) : device_(device), depth_(depth) {
    device_.attach(this);
  }
  ~Queue() override { device_.detach(this); }
  void addElement(uint32_t cookie) override {
    for (const auto& e : device_.descriptor().elements)
      if (e.cookie == cookie) reportIDs_.insert(e.reportID);
  }
  void start() override {
    // Only what arrives from now on belongs to this queue.
    device_.drain();
    started_ = true;
  }
  void stop() override {
    device_.drain();
    started_ = false;
  }
  std::optional<pl::Data> copyNextValue() override {
    if (values_.empty()) return std::nullopt;
    pl::Data v = std::move(values_.front());
    values_.pop_front();
    return v;
  }
  void offer(uint32_t reportID, const pl::Data& payload) {
    if (!started_ || !reportIDs_.count(reportID) || values_.size() >= depth_) return;
    values_.push_back(payload);
  }

 private:
  HidrawDevices::Device& device_;
  size_t depth_;
  std::set<uint32_t> reportIDs_;
  std::deque<pl::Data> values_;
  bool started_ = false;
};

}  // namespace

std::unique_ptr<HidQueue> HidrawDevices::Device::createQueue(int depth) {
  if (depth <= 0 || depth > 4096) return nullptr;
  return std::make_unique<Queue>(*this, static_cast<size_t>(depth));
}

void HidrawDevices::Device::offer(uint32_t reportID, pl::Data payload) {
  // A receiver seen from one slot passes on its own slot's answers and the receiver's own.
  if (node_.slot > 0 && !payload.empty() && payload[0] >= 1 && payload[0] <= 6 && payload[0] != node_.slot) return;
  for (Queue* q : queues_) q->offer(reportID, payload);
}

void HidrawDevices::Device::drain() {
  if (fd_ < 0 || gone_) return;
  uint8_t buf[4096];
  for (int rounds = 0; rounds < 256; ++rounds) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n == 0) {  // the node's other end went away
      gone_ = true;
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) gone_ = true;
      return;
    }
    // One read is one report on a real node; a stand-in may hand several at once, so the
    // descriptor's report lengths cut them apart.
    size_t pos = 0, len = static_cast<size_t>(n);
    while (pos < len) {
      uint32_t id = desc_.usesReportIDs ? buf[pos] : 0;
      size_t size = desc_.inputReportLength(id);
      if (size == 0 || pos + size > len) size = len - pos;
      size_t skip = desc_.usesReportIDs ? 1 : 0;
      pl::Data payload(buf + pos + std::min(skip, size), buf + pos + size);
      offer(id, std::move(payload));
      pos += size;
    }
  }
}

HidrawDevices::HidrawDevices(UdevMachine& machine, Report report, Waiter waiter, Opener opener)
    : machine_(machine), report_(std::move(report)), waiter_(std::move(waiter)), opener_(std::move(opener)) {}

HidrawDevices::~HidrawDevices() = default;

HidDeviceRef HidrawDevices::createDevice(RegistryId entry) {
  const UdevHidNode* node = machine_.hidNode(entry);
  if (!node) return nullptr;
  std::string devNode;
  if (auto v = machine_.registry().property(entry, "HIDRawNode"); v && v->isString()) devNode = *v->asString();
  return std::make_shared<Device>(*this, entry, *node, devNode);
}

void HidrawDevices::opened(Device* d) { open_.push_back(d); }

void HidrawDevices::closed(Device* d) { open_.erase(std::remove(open_.begin(), open_.end(), d), open_.end()); }

void HidrawDevices::permissionDenied(const std::string& node) {
  if (!denied_.insert(node).second || !report_) return;
  report_("cannot open " + node +
          " (permission denied): the model ids of devices paired to this receiver stay unknown. "
          "Install the udev rule resources/" + std::string(kReceiverRuleName) +
          " as /etc/udev/rules.d/" + kReceiverRuleName + ", then run 'udevadm trigger' and plug the receiver in again.");
}

void HidrawDevices::pause(double seconds) {
  if (!(seconds > 0)) return;
  std::vector<int> fds;
  for (Device* d : open_) fds.push_back(d->fd());
  if (waiter_) {
    waiter_(seconds, fds);
    return;
  }
  timespec ts{static_cast<time_t>(seconds), static_cast<long>(std::fmod(seconds, 1.0) * 1e9)};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void waitForInput(double seconds, const std::vector<int>& fds) {
  std::vector<pollfd> p;
  for (int fd : fds) p.push_back(pollfd{fd, POLLIN, 0});
  int ms = static_cast<int>(seconds * 1000);
  if (p.empty()) return;
  while (::poll(p.data(), p.size(), ms) < 0 && errno == EINTR) {
  }
}

}  // namespace vl::linux_
