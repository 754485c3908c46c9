// Alerts, fatal ends and cautions.
#include "core/system/alerts.h"

#include <cstdio>

#include "core/plist/number_text.h"
#include "core/system/drovana.h"
#include "core/system/strings.h"
#include "platform/api/platform.h"

namespace vl {

namespace {

// Fills the "%@" placeholders of a localized pattern in order.
std::string fillObjects(std::string pattern, std::initializer_list<std::string> args) {
  for (const auto& a : args) {
    auto at = pattern.find("%@");
    if (at == std::string::npos) break;
    pattern.replace(at, 2, a);
  }
  return pattern;
}

std::string message(const Platform& p, const char* messageKey, const char* table) {
  if (messageKey && messageKey[0] != 0) return localized(p, messageKey, table ? table : "dvvl");
  return localized(p, "An error occurred.", "dvvl");
}

std::string details(const Platform& p, ErrorStack& stack, const BundleInfo& bundle) {
  // The localized head replaces the fixed English one that the stack reader writes.
  std::string head = fillObjects(localized(p, "Error (%@ %@) ", "dvvl"), {bundle.executable, bundle.version});
  std::string text = QS810getErrorString(stack, bundle);
  std::string fixedHead = "Error (" + bundle.executable + " " + bundle.version + ") ";
  return head + text.substr(fixedHead.size());
}

void beep(const Platform& p) {
  if (Alerts* a = p.alerts) a->beep();
}

void present(const Platform& p, const ErrorInfo& error, AlertDelegate* delegate) {
  Alerts* a = p.alerts;
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

const BundleInfo& paneBundle(const ProcessIdentity& id) {
  return id.role == ProcessRole::Pane || !id.paneBundle.identifier.empty() ? id.paneBundle : id.mainBundle;
}

void notice(const Platform& p, const ProcessIdentity& id, const ErrorInfo& error) {
  beep(p);
  Alerts* a = p.alerts;
  std::string header = error.userInfo.count(kDescriptionKey) ? error.userInfo.at(kDescriptionKey).describe() : "";
  std::string text =
      error.userInfo.count(kRecoverySuggestionKey) ? error.userInfo.at(kRecoverySuggestionKey).describe() : "";
  std::string icon = paneBundle(id).resourcesDir + "/Velmora.icns";
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

void terminate(const Platform& p) {
  if (Lifecycle* l = p.lifecycle) l->terminate(kFatalExitStatus);
  else std::exit(kFatalExitStatus);
}

void terminateHost(const Platform& p) {
  if (Lifecycle* l = p.lifecycle) {
    l->terminateApplication(velmora::kSettingsHostBundleID);
    l->terminate(kFatalExitStatus);
  } else {
    std::exit(kFatalExitStatus);
  }
}

}  // namespace

void QS810alertApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, const BundleInfo* bundle, int64_t code, int64_t site,
                   bool withDetails, AlertDelegate* delegate) {
  QS810stackError(errors.stack, nullptr, code);
  QS810stackError(errors.stack, nullptr, site);
  beep(p);
  const BundleInfo& b = bundle ? *bundle : errors.identity.mainBundle;
  ErrorInfo error;
  error.domain = b.identifier;
  error.code = 0;
  error.userInfo[kDescriptionKey] = message(p, messageKey, table);
  error.userInfo[kRecoverySuggestionKey] = withDetails ? details(p, errors.stack, b) : std::string();
  present(p, error, delegate);
}

void QS810alertAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, const BundleInfo* bundle, int64_t code, int64_t site,
                          bool withDetails, AlertDelegate* delegate) {
  QS810stackNSError(errors.stack, error);
  QS810stackError(errors.stack, nullptr, code);
  QS810stackError(errors.stack, nullptr, site);
  const BundleInfo& b = bundle ? *bundle : errors.identity.mainBundle;
  ErrorInfo info = errorFrom(error, b);
  if (withDetails) info.userInfo[kRecoverySuggestionKey] = details(p, errors.stack, b);
  beep(p);
  present(p, info, delegate);
}

void CautionApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, int64_t code, int64_t site) {
  QS810stackError(errors.stack, nullptr, code);
  QS810stackError(errors.stack, nullptr, site);
  const BundleInfo& b = paneBundle(errors.identity);
  ErrorInfo error;
  error.domain = b.identifier.empty() ? velmora::kPaneBundleID : b.identifier;
  error.userInfo[kDescriptionKey] = message(p, messageKey, table);
  error.userInfo[kRecoverySuggestionKey] = details(p, errors.stack, b);
  notice(p, errors.identity, error);
}

void CautionAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, int64_t code, int64_t site) {
  QS810stackNSError(errors.stack, error);
  QS810stackError(errors.stack, nullptr, code);
  QS810stackError(errors.stack, nullptr, site);
  const BundleInfo& b = paneBundle(errors.identity);
  ErrorInfo info = errorFrom(error, b);
  info.userInfo[kRecoverySuggestionKey] = details(p, errors.stack, b);
  notice(p, errors.identity, info);
}

void AbendApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, int64_t code, int64_t site) {
  if (errors.identity.role == ProcessRole::Pane) {
    CautionApp(p, errors, messageKey, table, code, site);
    terminateHost(p);
  } else {
    QS810alertApp(p, errors, messageKey, table, nullptr, code, site, true, nullptr);
    terminate(p);
  }
}

void AbendAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, int64_t code, int64_t site) {
  if (errors.identity.role == ProcessRole::Pane) {
    CautionAppNSError(p, errors, error, code, site);
    terminateHost(p);
  } else {
    QS810alertAppNSError(p, errors, error, nullptr, code, site, true, nullptr);
    terminate(p);
  }
}

ErrorInfo QS812speedRangeError(const Platform& p, const ProcessIdentity& identity, const BundleInfo* bundle, double value, double minimum, double maximum) {
  const BundleInfo& b = bundle ? *bundle : identity.mainBundle;
  std::string pattern = localized(p, "A value of %g is out of range.\nAcceptable values are %g to %g.", "dvvl");
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
