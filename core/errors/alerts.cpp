// Alerts, fatal ends and cautions.
#include "core/errors/alerts.h"

#include <cstdio>

#include "core/plist/number_text.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "platform/api/platform.h"

namespace vl {

namespace {

ProcessIdentity& identity() {
  static ProcessIdentity id;
  return id;
}

// Fills the "%@" placeholders of a localized pattern in order.
std::string fillObjects(std::string pattern, std::initializer_list<std::string> args) {
  for (const auto& a : args) {
    auto at = pattern.find("%@");
    if (at == std::string::npos) break;
    pattern.replace(at, 2, a);
  }
  return pattern;
}

std::string message(const char* messageKey, const char* table) {
  if (messageKey && messageKey[0] != 0) return localized(messageKey, table ? table : "dvvl");
  return localized("An error occurred.", "dvvl");
}

std::string details(const BundleInfo& bundle) {
  // The localized head replaces the fixed English one that the stack reader writes.
  std::string head = fillObjects(localized("Error (%@ %@) ", "dvvl"), {bundle.executable, bundle.version});
  std::string text = QS810getErrorString(bundle);
  std::string fixedHead = "Error (" + bundle.executable + " " + bundle.version + ") ";
  return head + text.substr(fixedHead.size());
}

void beep() {
  if (Alerts* a = currentPlatform().alerts) a->beep();
}

void present(const ErrorInfo& error, AlertDelegate* delegate) {
  Alerts* a = currentPlatform().alerts;
  if (!a) {
    std::fprintf(stderr, "%s\n%s\n", error.userInfo.count(kDescriptionKey) ? error.userInfo.at(kDescriptionKey).describe().c_str() : "",
                 error.userInfo.count(kRecoverySuggestionKey) ? error.userInfo.at(kRecoverySuggestionKey).describe().c_str() : "");
    return;
  }
  if (delegate) {
    std::function<void()> done;
    if (delegate->respondsToDidPresentError()) done = [delegate] { delegate->didPresentErrorWithRecovery(false); };
    a->presentSheet(error, std::move(done));
  } else {
    a->presentModal(error);
  }
}

const BundleInfo& paneBundle() {
  const ProcessIdentity& id = identity();
  return id.role == ProcessRole::Pane || !id.paneBundle.identifier.empty() ? id.paneBundle : id.mainBundle;
}

void notice(const ErrorInfo& error) {
  beep();
  Alerts* a = currentPlatform().alerts;
  std::string header = error.userInfo.count(kDescriptionKey) ? error.userInfo.at(kDescriptionKey).describe() : "";
  std::string text =
      error.userInfo.count(kRecoverySuggestionKey) ? error.userInfo.at(kRecoverySuggestionKey).describe() : "";
  std::string icon = paneBundle().resourcesDir + "/Velmora.icns";
  if (a) a->displayNotice(header, text, icon);
  else std::fprintf(stderr, "%s\n%s\n", header.c_str(), text.c_str());
}

ErrorInfo errorFrom(const ErrorInfo* error, const BundleInfo& bundle) {
  ErrorInfo info;
  if (error) {
    info = *error;
  } else {
    info.domain = bundle.identifier;
    info.code = 0;
  }
  return info;
}

void terminate() {
  if (Lifecycle* l = currentPlatform().lifecycle) l->terminate(kFatalExitStatus);
  else std::exit(kFatalExitStatus);
}

void terminateHost() {
  if (Lifecycle* l = currentPlatform().lifecycle) {
    l->terminateApplication(velmora::kSettingsHostBundleID);
    l->terminate(kFatalExitStatus);
  } else {
    std::exit(kFatalExitStatus);
  }
}

}  // namespace

void setProcessIdentity(ProcessIdentity id) { identity() = std::move(id); }
const ProcessIdentity& processIdentity() { return identity(); }

void QS810alertApp(const char* messageKey, const char* table, const BundleInfo* bundle, int64_t code, int64_t site,
                   bool withDetails, AlertDelegate* delegate) {
  QS810stackError(nullptr, code);
  QS810stackError(nullptr, site);
  beep();
  const BundleInfo& b = bundle ? *bundle : identity().mainBundle;
  ErrorInfo error;
  error.domain = b.identifier;
  error.code = 0;
  error.userInfo[kDescriptionKey] = message(messageKey, table);
  error.userInfo[kRecoverySuggestionKey] = withDetails ? details(b) : std::string();
  present(error, delegate);
}

void QS810alertAppNSError(const ErrorInfo* error, const BundleInfo* bundle, int64_t code, int64_t site,
                          bool withDetails, AlertDelegate* delegate) {
  QS810stackNSError(error);
  QS810stackError(nullptr, code);
  QS810stackError(nullptr, site);
  const BundleInfo& b = bundle ? *bundle : identity().mainBundle;
  ErrorInfo info = errorFrom(error, b);
  if (withDetails) info.userInfo[kRecoverySuggestionKey] = details(b);
  beep();
  present(info, delegate);
}

void CautionApp(const char* messageKey, const char* table, int64_t code, int64_t site) {
  QS810stackError(nullptr, code);
  QS810stackError(nullptr, site);
  const BundleInfo& b = paneBundle();
  ErrorInfo error;
  error.domain = b.identifier.empty() ? velmora::kPaneBundleID : b.identifier;
  error.userInfo[kDescriptionKey] = message(messageKey, table);
  error.userInfo[kRecoverySuggestionKey] = details(b);
  notice(error);
}

void CautionAppNSError(const ErrorInfo* error, int64_t code, int64_t site) {
  QS810stackNSError(error);
  QS810stackError(nullptr, code);
  QS810stackError(nullptr, site);
  const BundleInfo& b = paneBundle();
  ErrorInfo info = errorFrom(error, b);
  info.userInfo[kRecoverySuggestionKey] = details(b);
  notice(info);
}

void AbendApp(const char* messageKey, const char* table, int64_t code, int64_t site) {
  if (identity().role == ProcessRole::Pane) {
    CautionApp(messageKey, table, code, site);
    terminateHost();
  } else {
    QS810alertApp(messageKey, table, nullptr, code, site, true, nullptr);
    terminate();
  }
}

void AbendAppNSError(const ErrorInfo* error, int64_t code, int64_t site) {
  if (identity().role == ProcessRole::Pane) {
    CautionAppNSError(error, code, site);
    terminateHost();
  } else {
    QS810alertAppNSError(error, nullptr, code, site, true, nullptr);
    terminate();
  }
}

ErrorInfo QS812speedRangeError(const BundleInfo* bundle, double value, double minimum, double maximum) {
  const BundleInfo& b = bundle ? *bundle : identity().mainBundle;
  std::string pattern = localized("A value of %g is out of range.\nAcceptable values are %g to %g.", "dvvl");
  // The pattern comes from a resource file: fill the three %g ourselves rather than handing
  // it to printf as a format.
  std::string text;
  double args[3] = {value, minimum, maximum};
  int used = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'g' && used < 3) {
      text += pl::formatG(args[used++]);
      ++i;
    } else {
      text += pattern[i];
    }
  }
  ErrorInfo e;
  e.domain = b.identifier;
  e.code = 0;
  e.userInfo[kDescriptionKey] = text;
  return e;
}

}  // namespace vl
