// The simulated Logitech Unifying receiver: its answers to the report exchanges, queued as input.
#include "platform/sim/sim_hid_queue.h"

namespace vl::sim {

// --- The receiver's answers ------------------------------------------------------------------

void SimMac::Impl::enqueue(RegistryId deviceEntry, uint32_t reportID, pl::Data value) {
  auto qs = queues;  // a queue may not go away while offered to, but stay safe anyway
  for (SimQueue* q : qs) q->offer(deviceEntry, reportID, value);
}

void SimMac::Impl::answerReceiver(RegistryId deviceEntry, uint32_t reportID, const pl::Data& bytes) {
  const Node* n = node(deviceEntry);
  if (!n) return;
  auto rit = receivers.find(n->top);
  if (rit == receivers.end() || reportID != 0x10 || bytes.size() != 7 || bytes[0] != 0x10) return;
  // Only the vendor interface talks to the receiver.
  auto page = n->props.find("PrimaryUsagePage");
  if (page == n->props.end() || page->second.unsignedIntValue() != 0xFF00) return;
  const Receiver& rx = rit->second;
  auto slotFor = [&](int ix) -> const ReceiverSlot* {
    for (const auto& s : rx.slots)
      if (s.slot == ix) return &s;
    return nullptr;
  };

  if (bytes[1] == 0xFF && bytes[2] == 0x80) {
    // Register writes: enable notifications, then "report the paired devices".
    enqueue(deviceEntry, 0x10, pl::Data{0xFF, 0x80, bytes[3], 0x00, 0x00, 0x00});
    if (bytes[3] == 0x02 && bytes[4] == 0x02) {
      if (rx.behaviour.answersPairing) {
        for (const auto& s : rx.slots)
          enqueue(deviceEntry, 0x10,
                  pl::Data{static_cast<uint8_t>(s.slot), 0x41, 0x04, 0x00, static_cast<uint8_t>(s.mid & 0xFF),
                           static_cast<uint8_t>((s.mid >> 8) & 0xFF)});
      }
      enqueue(deviceEntry, 0x10, pl::Data{0x07, 0x80, 0x02, 0x00, 0x00, 0x00});
    }
    return;
  }
  if (bytes[1] == 0xFF && bytes[2] == 0x83 && bytes[3] == 0xB5) {
    uint8_t sub = bytes[4];
    // 0x30 + slot - 1: extended pairing information; 0x40 + slot - 1: the device's name.
    if (sub >= 0x30 && sub <= 0x35) {
      const ReceiverSlot* s = slotFor(sub - 0x2F);
      pl::Data v(19, 0);
      v[0] = 0xFF; v[1] = 0x83; v[2] = 0xB5; v[3] = sub;
      if (s) { v[4] = static_cast<uint8_t>(s->mid & 0xFF); v[5] = static_cast<uint8_t>((s->mid >> 8) & 0xFF); }
      enqueue(deviceEntry, 0x11, v);
    } else if (sub >= 0x40 && sub <= 0x45) {
      const ReceiverSlot* s = slotFor(sub - 0x3F);
      if (!s) {
        enqueue(deviceEntry, 0x10, pl::Data{0xFF, 0x8F, 0x83, 0xB5, 0x02, 0x00});
        return;
      }
      pl::Data v(19, 0);
      v[0] = 0xFF; v[1] = 0x83; v[2] = 0xB5; v[3] = sub;
      size_t len = std::min<size_t>(s->name.size(), 14);
      v[4] = static_cast<uint8_t>(len);
      for (size_t i = 0; i < len; ++i) v[5 + i] = static_cast<uint8_t>(s->name[i]);
      enqueue(deviceEntry, 0x11, v);
    }
    return;
  }
  if (bytes[1] >= 1 && bytes[1] <= 6 && bytes[2] == 0x02 && bytes[3] == 0x1A) {
    const ReceiverSlot* s = slotFor(bytes[1]);
    if (!s) return;
    pl::Data v(19, 0);
    v[0] = bytes[1]; v[1] = 0x02; v[2] = 0x1A; v[3] = bytes[4];
    v[5] = 0x50; v[6] = 0x4D;
    v[7] = static_cast<uint8_t>(s->firmware >> 24); v[8] = static_cast<uint8_t>(s->firmware >> 16);
    v[9] = static_cast<uint8_t>(s->firmware >> 8); v[10] = static_cast<uint8_t>(s->firmware);
    enqueue(deviceEntry, 0x11, v);
  }
}

}  // namespace vl::sim
