// Fuzz target: arbitrary curve lists (dictionaries with any subset of the curve keys and
// numbers, reals, strings or booleans as values, mixed with other elements) through
// setupForAcceleration, scalePointer and the graph's parametric path.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <fuzzer/FuzzedDataProvider.h>

#include "pane/curves/parametric_curves.h"
#include "pane/model/curve_view_model.h"

namespace {

const char* const kKeys[] = {
    vl::kHIDAccelIndexKey,         vl::kHIDAccelGainLinearKey,         vl::kHIDAccelGainParabolicKey,
    vl::kHIDAccelGainCubicKey,     vl::kHIDAccelGainQuarticKey,        vl::kHIDAccelTangentSpeedLinearKey,
    vl::kHIDAccelTangentSpeedParabolicRootKey,
};

pl::Value anyValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return pl::Value::int32(in.ConsumeIntegral<int32_t>());
    // Small positive 16.16 numbers make curves that set up, so the arithmetic runs deep.
    case 1: return pl::Value::int32(in.ConsumeIntegralInRange<int32_t>(0, 0x400000));
    case 2: return pl::Value(in.ConsumeFloatingPoint<double>());
    case 3: return pl::Value(in.ConsumeBool());
    case 4: return pl::Value::uint64(in.ConsumeIntegral<uint64_t>());
    default: return pl::Value(in.ConsumeRandomLengthString(8));
  }
}

pl::Value anyCurveList(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return anyValue(in);  // not an array at all
  pl::Array list;
  const int n = in.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < n; ++i) {
    if (in.ConsumeIntegralInRange<int>(0, 9) == 0) {
      list.push_back(anyValue(in));
      continue;
    }
    pl::Dict d;
    for (const char* key : kKeys)
      if (in.ConsumeBool()) d[key] = anyValue(in);
    list.push_back(pl::Value(std::move(d)));
  }
  return pl::Value(std::move(list));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const double resolution = in.ConsumeIntegralInRange<int>(-10, 8000) / 4.0;
  const double tracking = in.ConsumeIntegralInRange<int>(-4, 400) / 16.0;
  const pl::Value curves = anyCurveList(in);

  vl::AccelerationState state;
  const int32_t err = vl::setupForAcceleration(state, &curves, resolution, tracking);
  if (err == 0 || err == 2660508) {
    if (state.g_paparams.secondary.tangentIndex != 0 && state.g_paparams.secondary.tangentIndex != 1) std::abort();
    for (int i = 0; i < 16 && in.remaining_bytes() > 0; ++i) (void)vl::scalePointer(state, in.ConsumeIntegral<int32_t>());
    for (vl::Fixed d : {0, 0x8000, 0x10000, 0x7FFFFFFF, -0x7FFFFFFF - 1}) (void)vl::scalePointer(state, d);
  }

  vl::ErrorStack errors;
  vl::CurveViewModel model(errors);
  pl::Data table;  // tracking 0 goes to the table model; an empty table is refused there
  vl::CurveDevice device{true, &curves, &table, false, resolution};
  vl::CurveSpeed row{&device, resolution, tracking, false, std::nullopt, true};
  model.setViewScaleBy(vl::ZoomSender::None, false, "0.5", "0.5", {&row, 1});
  for (const auto& e : model.presetCurve(0).elements())
    if (!std::isfinite(e.x) || !std::isfinite(e.y)) std::abort();
  if (model.presetCurve(0).isPACurve()) (void)model.backCalculateAxesPA(in.ConsumeIntegralInRange<int>(0, 1000));
  return 0;
}
