// Fuzz target: arbitrary bytes as an acceleration table, through changeAcclTable, the segment
// builder and the graph's table path. The first bytes choose resolution, sensitivity and
// tracking; the rest is the table as a device property would carry it.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <fuzzer/FuzzedDataProvider.h>

#include "pane/curves/accel_table.h"
#include "pane/model/curve_view_model.h"

namespace {

void checkBuilt(int32_t err, const vl::AccelerationState& s, const vl::SegmentPoints& points) {
  if (points.count < 0 || points.count > vl::kSegmentCount) std::abort();
  if (err != 0) return;
  if (points.count < 1) std::abort();
  if (s.g_segments[static_cast<size_t>(points.count - 1)].deviceLimit != 0x7FFFFFFF) std::abort();
  if (!(s.g_segments[static_cast<size_t>(points.count)] == vl::Segment{})) std::abort();
}

void checkPath(const vl::CurvePath& p) {
  for (const auto& e : p.elements())
    if (!std::isfinite(e.x) || !std::isfinite(e.y)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const double resolution = in.ConsumeIntegralInRange<int>(-10, 4000) / 2.0;
  const double sensitivity = in.ConsumeIntegralInRange<int>(0, 4000) / 2.0;
  const double tracking = in.ConsumeIntegralInRange<int>(-4, 400) / 16.0;
  const bool drovana = in.ConsumeBool();
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();

  vl::AccelerationState state;
  vl::SegmentPoints points;
  checkBuilt(vl::buildSegments(state, &bytes, resolution, tracking, points), state, points);

  pl::Data copy = bytes;
  if (vl::changeAcclTable(&copy, resolution, sensitivity) == 0) {
    if (copy.size() < bytes.size()) std::abort();
    checkBuilt(vl::buildSegments(state, &copy, resolution, tracking, points), state, points);
  }

  // The graph's chain: the sibling driver's unscaled path or the rescaled one.
  vl::CurveDevice device{true, nullptr, &bytes, drovana, resolution};
  vl::ErrorStack errors;
  vl::CurveViewModel model(errors);
  vl::CurveSpeed row{&device, sensitivity, tracking, false, std::nullopt, true};
  model.setViewScaleBy(vl::ZoomSender::None, false, "1.0", "1.0", {&row, 1});
  checkPath(model.presetCurve(0));
  if (model.presetCurve(0).isSGCurve()) (void)model.backCalculateAxesSG(static_cast<int>(tracking * 10));
  return 0;
}
