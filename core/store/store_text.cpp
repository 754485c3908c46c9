// Pattern filling for localized record texts.
#include "core/store/store_text.h"

#include <cstdio>

#include "core/plist/number_text.h"
#include "core/system/strings.h"

namespace vl {

namespace {

struct Conversion {
  std::string spec;  // flags, width, precision
  char type = 0;     // '@', 's', 'd', 'i', 'u', 'x', 'X', 'g', 'f', 'e'
};

// Splits a pattern into literal text and conversions; false on a malformed conversion.
bool parse(const std::string& p, std::vector<std::string>* literals, std::vector<Conversion>* convs) {
  std::string lit;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') {
      lit += p[i];
      continue;
    }
    if (i + 1 < p.size() && p[i + 1] == '%') {
      lit += '%';
      ++i;
      continue;
    }
    Conversion c;
    size_t j = i + 1;
    while (j < p.size() && std::string("-+ 0#").find(p[j]) != std::string::npos) c.spec += p[j++];
    while (j < p.size() && isdigit(static_cast<unsigned char>(p[j]))) c.spec += p[j++];
    if (j < p.size() && p[j] == '.') {
      c.spec += p[j++];
      while (j < p.size() && isdigit(static_cast<unsigned char>(p[j]))) c.spec += p[j++];
    }
    // Length modifiers are not needed: arguments are passed at full width.
    while (j < p.size() && (p[j] == 'l' || p[j] == 'h' || p[j] == 'q')) ++j;
    if (j >= p.size() || std::string("@sdiuxXgfe").find(p[j]) == std::string::npos) return false;
    c.type = p[j];
    if (c.spec.size() > 8) return false;
    literals->push_back(lit);
    lit.clear();
    convs->push_back(c);
    i = j;
  }
  literals->push_back(lit);
  return true;
}

char kindOf(char type) {
  switch (type) {
    case '@':
    case 's': return 's';
    case 'g':
    case 'f':
    case 'e': return 'f';
    default: return 'd';
  }
}

}  // namespace

std::string formatPattern(const std::string& pattern, const std::vector<FormatArg>& args) {
  std::vector<std::string> lits;
  std::vector<Conversion> convs;
  if (!parse(pattern, &lits, &convs)) return pattern;
  std::string out;
  char buf[512];
  for (size_t i = 0; i < convs.size(); ++i) {
    out += lits[i];
    if (i >= args.size()) continue;
    const FormatArg& a = args[i];
    const Conversion& c = convs[i];
    std::string fmt = "%" + c.spec;
    switch (kindOf(c.type)) {
      case 's': {
        std::string t = a.kind == FormatArg::Kind::Text      ? a.text
                        : a.kind == FormatArg::Kind::Integer ? std::to_string(a.integer)
                                                             : formatPattern("%g", {a.real});
        fmt += 's';
        std::snprintf(buf, sizeof buf, fmt.c_str(), t.c_str());
        // Text longer than the buffer is not cut.
        out += (t.size() + 64 < sizeof buf) ? std::string(buf) : t;
        break;
      }
      case 'f': {
        double v = a.kind == FormatArg::Kind::Real ? a.real : static_cast<double>(a.integer);
        std::string text;
        if (pl::formatPrintfReal(fmt + c.type, v, &text)) out += text;
        break;
      }
      default: {
        long long v = a.kind == FormatArg::Kind::Integer ? a.integer : static_cast<long long>(a.real);
        fmt += "ll";
        fmt += c.type == '@' ? 'd' : c.type;
        std::snprintf(buf, sizeof buf, fmt.c_str(), v);
        out += buf;
        break;
      }
    }
  }
  out += lits.back();
  return out;
}

std::string localizedFormat(const Platform& p, const std::string& key, const char* table, const std::vector<FormatArg>& args) {
  return localizedFormat(p.paths, p.system, key, table, args);
}

std::string localizedFormat(Paths* paths, SystemInfo* system, const std::string& key, const char* table,
                            const std::vector<FormatArg>& args) {
  std::string pattern = localized(paths, system, key, table);
  std::vector<std::string> l1, l2;
  std::vector<Conversion> c1, c2;
  bool same = parse(pattern, &l1, &c1) && parse(key, &l2, &c2) && c1.size() == c2.size();
  for (size_t i = 0; same && i < c1.size(); ++i) same = kindOf(c1[i].type) == kindOf(c2[i].type);
  return formatPattern(same ? pattern : key, args);
}

}  // namespace vl
