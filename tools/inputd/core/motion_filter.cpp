// The exact filter: frame accumulation, one multiplier per frame, remainders per axis.
#include "tools/inputd/core/motion_filter.h"

#include <limits>

#include "pane/curves/fixed64.h"

namespace vl::inputd {

namespace {
int32_t addSaturated(int32_t a, int32_t b) {
  int64_t s = static_cast<int64_t>(a) + b;
  if (s > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (s < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(s);
}

// Splits a 16.16 total into whole pixels (toward zero) and the remainder left over.
int32_t wholePixels(int64_t total, int64_t& remainder) {
  int64_t whole = total / 65536;
  remainder = total - whole * 65536;
  return static_cast<int32_t>(whole);
}
}  // namespace

void MotionFilter::feed(const InputEvent& e, std::vector<InputEvent>& out) {
  if (e.type == kEvSyn && e.code == kSynDropped) {
    // The kernel lost events: the motion up to the next report is incomplete and dropped;
    // buttons still pass, so that none is left held.
    dropping_ = true;
    dx_ = dy_ = 0;
    return;
  }
  if (e.type == kEvSyn && e.code == kSynReport) {
    dropping_ = false;
    const size_t before = out.size();
    out.insert(out.end(), pending_.begin(), pending_.end());
    if (dx_ != 0 || dy_ != 0) {
      // The frame's speed is the whole length of its motion, as the model takes |delta|.
      const uint64_t sq = static_cast<uint64_t>(static_cast<int64_t>(dx_) * dx_) +
                          static_cast<uint64_t>(static_cast<int64_t>(dy_) * dy_);
      const IOFixed64 m = curve_.multiplier(llsqrt(sq));
      int32_t px = 0, py = 0;
      if (dx_ != 0) px = wholePixels(CursorCurve::scaled(m, dx_) + remX_, remX_);
      if (dy_ != 0) py = wholePixels(CursorCurve::scaled(m, dy_) + remY_, remY_);
      if (px != 0) out.push_back({e.timeUsec, kEvRel, kRelX, px});
      if (py != 0) out.push_back({e.timeUsec, kEvRel, kRelY, py});
    }
    if (out.size() != before) out.push_back(e);
    pending_.clear();
    dx_ = dy_ = 0;
    return;
  }
  const bool motion = e.type == kEvRel && (e.code == kRelX || e.code == kRelY);
  if (dropping_ && motion) return;
  if (e.type == kEvRel && e.code == kRelX) {
    dx_ = addSaturated(dx_, e.value);
  } else if (e.type == kEvRel && e.code == kRelY) {
    dy_ = addSaturated(dy_, e.value);
  } else {
    pending_.push_back(e);
  }
}

}  // namespace vl::inputd
