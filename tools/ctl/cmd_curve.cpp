// velmora-ctl curve: runs the acceleration models on given inputs and draws the curve graph.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>

#include "core/errors/error_stack.h"
#include "core/plist/codec.h"
#include "core/system/file_output.h"
#include "core/plist/number_text.h"
#include "core/plist/file_input.h"
#include "pane/curves/accel_table.h"
#include "pane/curves/default_curves.h"
#include "pane/curves/parametric_curves.h"
#include "pane/model/curve_view_model.h"
#include "pane/graph/graph_svg.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char kHelp[] =
    "usage: velmora-ctl curve pa --resolution R --tracking T [--curves FILE] --deltas LIST [--json]\n"
    "       velmora-ctl curve table --resolution R [--sensitivity S] --tracking T [--table FILE] [--json]\n"
    "       velmora-ctl curve plot --resolution R[,R...] --tracking T[,T...] [--model pa|table]\n"
    "                              [--curves FILE] [--table FILE] [--device-resolution N]\n"
    "                              [--scale SX,SY] [--focus K] -o FILE.svg\n"
    "\n"
    "pa     sets up the parametric model for pointer resolution R and tracking speed T from the\n"
    "       default curve list, or from FILE (a property list whose root is the curve array,\n"
    "       values as raw 16.16 integers), then accelerates each device delta of LIST (decimal,\n"
    "       comma-separated) in order. Prints the result number, the cursor deltas and the\n"
    "       primary and secondary parameters, all raw 16.16.\n"
    "table  builds the table model's points and segments for resolution R and tracking T from\n"
    "       the default table, or from FILE (the table's raw bytes). With --sensitivity the\n"
    "       table's device speeds are first rescaled by S / R, as for a device that the\n"
    "       sibling driver does not drive.\n"
    "plot   draws the curves of up to five favourites (one per resolution/tracking pair; a\n"
    "       single value applies to all) as the settings window's graph does, to an SVG file.\n"
    "       --model pa (default) uses the parametric curves (tracking 0 falls back to the\n"
    "       table), --model table the acceleration table scaled from the device's own\n"
    "       resolution N (default 400). --scale sets the graph's zoom (default 3.0,1.0);\n"
    "       --focus picks the highlighted favourite (default 1).\n"
    "\n"
    "Exit status: 0 done, 1 the model returned an error number (pa and table still print\n"
    "their output) or a file could not be read or written, 2 wrong arguments.\n";

bool parseList(const std::string& text, std::vector<double>* out) {
  out->clear();
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    double v;
    if (!parseDouble(item, &v)) return false;
    out->push_back(v);
  }
  return !text.empty() && text.back() != ',';
}

bool readBytes(const std::string& path, pl::Data* out, std::string* error) {
  pl::FileReadResult r = pl::readRegularFile(path, pl::kMaxInputFileBytes, out);
  if (!r) *error = "cannot read " + r.error;
  return bool(r);
}

int takeNumber(Args& args, const std::string& name, double* out, bool required, bool* present = nullptr) {
  std::string text, error;
  if (!takeOption(args, name, &text, &error)) {
    if (!error.empty()) return usageError("curve", error);
    if (required) return usageError("curve", "missing " + name);
    if (present) *present = false;
    return kExitOk;
  }
  if (!parseDouble(text, out)) return usageError("curve", name + " " + notANumber(text));
  if (present) *present = true;
  return kExitOk;
}

int rejectRest(const Args& args) {
  if (!args.empty()) return usageError("curve", "unexpected argument '" + args[0] + "'");
  return kExitOk;
}

std::string i64(int64_t v) { return std::to_string(v); }

std::string fixedArray(const IOFixed64* v, int n) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += (i ? ", " : "") + i64(v[i].value);
  return s + "]";
}

const pl::Value* loadCurves(Args& args, pl::Value* holder, int* status) {
  std::string path, error;
  *status = kExitOk;
  if (takeOption(args, "--curves", &path, &error)) {
    pl::ReadResult r = pl::readFile(path);
    if (!r) {
      *status = failure(r.error);
      return nullptr;
    }
    *holder = std::move(*r.value);
    return holder;
  }
  if (!error.empty()) {
    *status = usageError("curve", error);
    return nullptr;
  }
  const pl::Value* d = defaultAcclCurves();
  if (!d) *status = failure("the built-in curve list cannot be read");
  return d;
}

bool loadTable(Args& args, pl::Data* out, int* status) {
  std::string path, error;
  *status = kExitOk;
  if (takeOption(args, "--table", &path, &error)) {
    if (!readBytes(path, out, &error)) {
      *status = failure(error);
      return false;
    }
    return true;
  }
  if (!error.empty()) {
    *status = usageError("curve", error);
    return false;
  }
  const pl::Data* d = defaultAcclTable();
  if (!d) {
    *status = failure("the built-in acceleration table cannot be read");
    return false;
  }
  *out = *d;
  return true;
}

int runPA(Args args) {
  double resolution = 0, tracking = 0;
  if (int s = takeNumber(args, "--resolution", &resolution, true)) return s;
  if (int s = takeNumber(args, "--tracking", &tracking, true)) return s;
  std::string deltaText, error;
  std::vector<double> deltas;
  if (takeOption(args, "--deltas", &deltaText, &error)) {
    if (!parseList(deltaText, &deltas)) return usageError("curve", "--deltas needs decimal numbers separated by commas");
  } else if (!error.empty()) {
    return usageError("curve", error);
  }
  const bool json = takeFlag(args, "--json");
  pl::Value holder;
  int status;
  const pl::Value* curves = loadCurves(args, &holder, &status);
  if (!curves) return status;
  if (int s = rejectRest(args)) return s;

  AccelerationState state;
  const int32_t result = setupForAcceleration(state, curves, resolution, tracking);
  std::vector<Fixed> outputs;
  if (result == 0)
    for (double d : deltas) outputs.push_back(scalePointer(state, X2Fix(d)));

  const auto& p = state.g_paparams.primary;
  const auto& s = state.g_paparams.secondary;
  if (json) {
    std::string out = "{\"result\": " + std::to_string(result) + ", \"outputs\": [";
    for (size_t i = 0; i < outputs.size(); ++i) out += (i ? ", " : "") + std::to_string(outputs[i]);
    out += "], \"primary\": {\"deviceScale\": " + i64(p.deviceScale.value) +
           ", \"cursorScale\": " + i64(p.cursorScale.value) + ", \"accelIndex\": " + i64(p.accelIndex.value) +
           ", \"gain\": " + fixedArray(p.gain, 4) + ", \"tangent\": " + fixedArray(p.tangent, 2) + "}";
    out += ", \"secondary\": {\"tangentIndex\": " + std::to_string(s.tangentIndex) +
           ", \"linearSlope\": " + i64(s.linearSlope.value) + ", \"linearIntercept\": " + i64(s.linearIntercept.value) +
           ", \"linearTangentValue\": " + i64(s.linearTangentValue.value) +
           ", \"rootTangentValue\": " + i64(s.rootTangentValue.value) + ", \"rootSlope\": " + i64(s.rootSlope.value) +
           ", \"rootIntercept\": " + i64(s.rootIntercept.value) + "}}";
    std::cout << out << "\n";
  } else {
    auto show = [](const char* name, IOFixed64 v) {
      std::printf("  %-20s %14lld  (%s)\n", name, static_cast<long long>(v.value),
                  pl::formatFixed(static_cast<double>(v.value) / 65536.0, 5).c_str());
    };
    std::printf("result %d\n", result);
    std::printf("primary\n");
    show("deviceScale", p.deviceScale);
    show("cursorScale", p.cursorScale);
    show("accelIndex", p.accelIndex);
    const char* gains[] = {"gain[0]", "gain[1]", "gain[2]", "gain[3]"};
    for (int i = 0; i < 4; ++i) show(gains[i], p.gain[i]);
    show("tangent[0]", p.tangent[0]);
    show("tangent[1]", p.tangent[1]);
    std::printf("secondary\n  %-20s %14d\n", "tangentIndex", s.tangentIndex);
    show("linearSlope", s.linearSlope);
    show("linearIntercept", s.linearIntercept);
    show("linearTangentValue", s.linearTangentValue);
    show("rootTangentValue", s.rootTangentValue);
    show("rootSlope", s.rootSlope);
    show("rootIntercept", s.rootIntercept);
    if (!outputs.empty()) std::printf("outputs (device delta -> cursor delta)\n");
    for (size_t i = 0; i < outputs.size(); ++i)
      std::printf("  %12s -> %12d  (%s)\n", pl::formatG(deltas[i]).c_str(), outputs[i],
                  pl::formatFixed(Fix2X(outputs[i]), 5).c_str());
  }
  return result == 0 ? kExitOk : kExitFailure;
}

int runTable(Args args) {
  double resolution = 0, tracking = 0, sensitivity = 0;
  bool hasSensitivity = false;
  if (int s = takeNumber(args, "--resolution", &resolution, true)) return s;
  if (int s = takeNumber(args, "--tracking", &tracking, true)) return s;
  if (int s = takeNumber(args, "--sensitivity", &sensitivity, false, &hasSensitivity)) return s;
  const bool json = takeFlag(args, "--json");
  pl::Data table;
  int status;
  if (!loadTable(args, &table, &status)) return status;
  if (int s = rejectRest(args)) return s;

  AccelerationState state;
  SegmentPoints points;
  int32_t result = hasSensitivity ? changeAcclTable(&table, resolution, sensitivity) : 0;
  int written = 0;
  if (result == 0) {
    result = buildSegments(state, &table, resolution, tracking, points);
    written = points.count;
  }
  if (json) {
    std::string out = "{\"result\": " + std::to_string(result) + ", \"points\": [";
    for (int i = 0; i < points.count; ++i)
      out += std::string(i ? ", " : "") + "[" + std::to_string(points.points[i].x) + ", " + std::to_string(points.points[i].y) + "]";
    out += "], \"segments\": [";
    for (int i = 0; i < written; ++i) {
      const Segment& sg = state.g_segments[static_cast<size_t>(i)];
      out += std::string(i ? ", " : "") + "[" + std::to_string(sg.deviceLimit) + ", " + std::to_string(sg.slope) +
             ", " + std::to_string(sg.intercept) + "]";
    }
    std::cout << out << "]}\n";
  } else {
    std::printf("result %d\n", result);
    std::printf("%-28s %-24s %-24s\n", "point (device, cursor)", "segment limit", "slope, intercept");
    for (int i = 0; i < written; ++i) {
      const ScaledPoint& pt = points.points[i];
      const Segment& sg = state.g_segments[static_cast<size_t>(i)];
      const std::string limit = sg.deviceLimit == 0x7FFFFFFF ? "(open)" : pl::formatFixed(Fix2X(sg.deviceLimit), 5);
      std::printf("%11s %11s      %-24s %s, %s\n", pl::formatFixed(Fix2X(pt.x), 5).c_str(),
                  pl::formatFixed(Fix2X(pt.y), 5).c_str(), limit.c_str(), pl::formatFixed(Fix2X(sg.slope), 5).c_str(),
                  pl::formatFixed(Fix2X(sg.intercept), 5).c_str());
    }
  }
  return result == 0 ? kExitOk : kExitFailure;
}

std::string shortNumber(double v) {
  return pl::formatG(v);
}

int runPlot(Args args) {
  ErrorStack errors;  // this run's failures
  std::string text, error;
  std::vector<double> resolutions, trackings;
  if (!takeOption(args, "--resolution", &text, &error))
    return usageError("curve", error.empty() ? "missing --resolution" : error);
  if (!parseList(text, &resolutions)) return usageError("curve", "--resolution needs numbers separated by commas");
  if (!takeOption(args, "--tracking", &text, &error))
    return usageError("curve", error.empty() ? "missing --tracking" : error);
  if (!parseList(text, &trackings)) return usageError("curve", "--tracking needs numbers separated by commas");
  const size_t rowCount = std::max(resolutions.size(), trackings.size());
  if ((resolutions.size() != 1 && resolutions.size() != rowCount) || (trackings.size() != 1 && trackings.size() != rowCount))
    return usageError("curve", "--resolution and --tracking need the same number of values, or one of them a single one");
  if (rowCount > kCurveRows) return usageError("curve", "at most five favourites can be drawn");

  std::string model = "pa";
  if (!takeOption(args, "--model", &model, &error) && !error.empty()) return usageError("curve", error);
  if (model != "pa" && model != "table") return usageError("curve", "unknown model '" + model + "' (pa or table)");
  double deviceResolution = 400;
  if (int s = takeNumber(args, "--device-resolution", &deviceResolution, false)) return s;
  std::string scaleX = "3.0", scaleY = "1.0";
  if (takeOption(args, "--scale", &text, &error)) {
    const size_t comma = text.find(',');
    double sx, sy;
    if (comma == std::string::npos || !parseDouble(text.substr(0, comma), &sx) || !parseDouble(text.substr(comma + 1), &sy) ||
        sx < 0.1 || sy < 0.1)
      return usageError("curve", "--scale needs SX,SY, each at least 0.1");
    scaleX = text.substr(0, comma);
    scaleY = text.substr(comma + 1);
  } else if (!error.empty()) {
    return usageError("curve", error);
  }
  double focus = 1;
  if (int s = takeNumber(args, "--focus", &focus, false)) return s;
  if (focus < 1 || focus > static_cast<double>(rowCount) || focus != static_cast<int>(focus))
    return usageError("curve", "--focus needs a favourite number from 1 to " + std::to_string(rowCount));
  std::string output;
  if (!takeOption(args, "-o", &output, &error)) return usageError("curve", error.empty() ? "missing -o FILE.svg" : error);

  pl::Value holder;
  int status;
  const pl::Value* curves = loadCurves(args, &holder, &status);
  if (!curves) return status;
  pl::Data table;
  if (!loadTable(args, &table, &status)) return status;
  if (int s = rejectRest(args)) return s;

  CurveDevice device{true, model == "pa" ? curves : nullptr, &table, false, deviceResolution};
  std::vector<CurveSpeed> rows;
  GraphSvgText labels;
  labels.caption = "x: device speed (counts) \u00B7 y: cursor speed (pixels) \u00B7 " +
                   std::string(model == "pa" ? "parametric curves" : "acceleration table") +
                   " \u00B7 favourites: resolution / tracking";
  for (size_t i = 0; i < rowCount; ++i) {
    const double r = resolutions.size() == 1 ? resolutions[0] : resolutions[i];
    const double t = trackings.size() == 1 ? trackings[0] : trackings[i];
    rows.push_back({&device, r, t, false, favouriteColour(static_cast<int>(i)), true});
    labels.legend[i] = shortNumber(r) + " / " + shortNumber(t);
  }
  CurveViewModel view(errors);
  const size_t focused = static_cast<size_t>(focus) - 1;
  int32_t result = view.setViewScaleBy(ZoomSender::None, false, scaleX, scaleY, rows);
  if (result == 0) result = view.setFocusedCurve(focused, rows);
  if (result != 0) {
    std::string chain;
    for (const auto& e : errorStackEntries(errors)) chain += ", " + e;
    return failure("the curves cannot be computed (error " + std::to_string(result) + chain + ")");
  }
  view.setCurveVisible(rows);
  view.setCursorSpeedIndex(focused);
  const std::string svg = renderGraphSvg(view, labels);
  if (vl::Status written = pl::writeUserFile(output, svg); !written) return failure(written.detail());
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("curve", "missing subcommand (pa, table or plot)");
  if (isHelp(args[0])) {
    std::cout << kHelp;
    return kExitOk;
  }
  Args rest(args.begin() + 1, args.end());
  if (takeFlag(rest, "--help") || takeFlag(rest, "-h")) {
    std::cout << kHelp;
    return kExitOk;
  }
  if (args[0] == "pa") return runPA(rest);
  if (args[0] == "table") return runTable(rest);
  if (args[0] == "plot") return runPlot(rest);
  return usageError("curve", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"pa", "table", "plot"}));
}

}  // namespace

CommandGroup curveCommand() {
  return {"curve", "run the acceleration models and draw curve graphs", kHelp, run};
}

}  // namespace vl::ctl
