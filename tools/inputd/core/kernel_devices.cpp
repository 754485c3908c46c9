// evdev grab and uinput virtual pointer over their ioctls.
#include "tools/inputd/core/kernel_devices.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>

namespace vl::inputd {

namespace {
constexpr unsigned kInputMajor = 13;

Status errnoFailure(const std::string& what) {
  return Status::failure(inputd_error::kDeviceFailed, what + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(o.release()) {}
  Fd& operator=(Fd&&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

bool testBit(const std::vector<uint8_t>& bits, unsigned n) { return n / 8 < bits.size() && (bits[n / 8] >> (n % 8)) & 1; }

class EvdevGrab final : public GrabbedInput {
 public:
  explicit EvdevGrab(Fd fd) : fd_(std::move(fd)) {}
  // The grab ends with the descriptor (and with the process, however it ends).
  ~EvdevGrab() override { ioctl(fd_.get(), EVIOCGRAB, 0); }
  int fd() const override { return fd_.get(); }
  Status read(std::vector<InputEvent>& out) override {
    input_event buf[64];
    for (;;) {
      ssize_t n = ::read(fd_.get(), buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return Status::success();
      if (n <= 0) return errnoFailure("read");
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(input_event); ++i) {
        const input_event& e = buf[i];
        out.push_back({static_cast<int64_t>(e.input_event_sec) * 1000000 + e.input_event_usec, e.type, e.code, e.value});
      }
    }
  }

 private:
  Fd fd_;
};

class UinputPointer final : public VirtualPointer {
 public:
  explicit UinputPointer(Fd fd) : fd_(std::move(fd)) {}
  ~UinputPointer() override { ioctl(fd_.get(), UI_DEV_DESTROY); }
  Status write(const std::vector<InputEvent>& events) override {
    std::vector<input_event> raw(events.size());
    for (size_t i = 0; i < events.size(); ++i) {
      std::memset(&raw[i], 0, sizeof raw[i]);
      raw[i].type = events[i].type;
      raw[i].code = events[i].code;
      raw[i].value = events[i].value;
    }
    const char* p = reinterpret_cast<const char*>(raw.data());
    size_t left = raw.size() * sizeof(input_event);
    while (left > 0) {
      ssize_t n = ::write(fd_.get(), p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errnoFailure("write to uinput");
      p += n;
      left -= static_cast<size_t>(n);
    }
    return Status::success();
  }

 private:
  Fd fd_;
};

Result<Fd> openEventNode(const std::string& devNode) {
  Fd fd(::open(devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return errnoFailure(devNode);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != kInputMajor)
    return Status::failure(inputd_error::kBadNode, devNode + " is not an input device");
  if (ioctl(fd.get(), EVIOCGRAB, 1) != 0) return errnoFailure("grab " + devNode);
  return fd;
}
}  // namespace

Result<std::unique_ptr<GrabbedInput>> grabEventNode(const std::string& devNode) {
  auto fd = openEventNode(devNode);
  if (!fd) return fd.status();
  return std::unique_ptr<GrabbedInput>(std::make_unique<EvdevGrab>(std::move(*fd)));
}

Result<OpenedDevice> KernelDeviceOpener::open(const std::string& devNode) {
  auto in = openEventNode(devNode);
  if (!in) return in.status();
  std::vector<uint8_t> types(EV_MAX / 8 + 1), keys(KEY_MAX / 8 + 1), rels(REL_MAX / 8 + 1);
  char name[UINPUT_MAX_NAME_SIZE] = {};
  input_id id{};
  if (ioctl(in->get(), EVIOCGBIT(0, types.size()), types.data()) < 0 ||
      ioctl(in->get(), EVIOCGBIT(EV_KEY, keys.size()), keys.data()) < 0 ||
      ioctl(in->get(), EVIOCGBIT(EV_REL, rels.size()), rels.data()) < 0 || ioctl(in->get(), EVIOCGID, &id) < 0)
    return errnoFailure("capabilities of " + devNode);
  ioctl(in->get(), EVIOCGNAME(sizeof name - 1), name);

  Fd out(::open(uinputPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (out.get() < 0) return errnoFailure(uinputPath_);
  ioctl(out.get(), UI_SET_EVBIT, EV_SYN);
  if (testBit(types, EV_KEY)) {
    ioctl(out.get(), UI_SET_EVBIT, EV_KEY);
    for (unsigned k = 0; k <= KEY_MAX; ++k)
      if (testBit(keys, k)) ioctl(out.get(), UI_SET_KEYBIT, k);
  }
  if (testBit(types, EV_REL)) {
    ioctl(out.get(), UI_SET_EVBIT, EV_REL);
    for (unsigned r = 0; r <= REL_MAX; ++r)
      if (testBit(rels, r)) ioctl(out.get(), UI_SET_RELBIT, r);
  }
  uinput_setup setup{};
  setup.id = id;
  setup.id.bustype = BUS_VIRTUAL;
  std::string full = std::string(kVirtualPointerPrefix) + name;
  std::strncpy(setup.name, full.c_str(), UINPUT_MAX_NAME_SIZE - 1);
  if (ioctl(out.get(), UI_DEV_SETUP, &setup) < 0 || ioctl(out.get(), UI_DEV_CREATE) < 0) return errnoFailure("uinput device");
  OpenedDevice d;
  d.input = std::make_unique<EvdevGrab>(std::move(*in));
  d.output = std::make_unique<UinputPointer>(std::move(out));
  return d;
}

}  // namespace vl::inputd
