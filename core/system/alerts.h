// Alerts built on the error stack: the generic "An error occurred." message with the chain of
// error numbers as details, the fatal end of the agent and of the pane, and the pane's
// non-modal caution notice.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors/error_context.h"
#include "core/errors/error_stack.h"
#include "platform/api/alerts.h"
#include "platform/api/platform.h"

namespace vl {

// The completion of a sheet: only delegates that respond to it are named as its target.
class AlertDelegate {
 public:
  virtual ~AlertDelegate() = default;
  virtual bool respondsToDidPresentError() const { return true; }
  virtual void didPresentErrorWithRecovery(bool recovered) {}
};

// messageKey may be null or empty: then "An error occurred." from "dvvl". bundle null means
// the main bundle of errors.identity. The numbers go on, and the details come off, errors.stack.
void QS810alertApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, const BundleInfo* bundle, int64_t code, int64_t site,
                   bool withDetails, AlertDelegate* delegate);
void QS810alertAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, const BundleInfo* bundle, int64_t code, int64_t site,
                          bool withDetails, AlertDelegate* delegate);

// Fatal ends. The process exits with a failure status after the user saw the alert (the
// agent) or after the notice was posted (the pane). Through the Lifecycle port, so a test
// sees the call and the function returns there.
void AbendApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, int64_t code, int64_t site);
void AbendAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, int64_t code, int64_t site);

// The pane's caution: pushes code and site, beeps and posts a non-modal notice with the
// details; returns at once.
void CautionApp(const Platform& p, const ErrorContext& errors, const char* messageKey, const char* table, int64_t code, int64_t site);
void CautionAppNSError(const Platform& p, const ErrorContext& errors, const ErrorInfo* error, int64_t code, int64_t site);

// The exit status of a fatal end.
inline constexpr int kFatalExitStatus = 70;  // EX_SOFTWARE

// "A value of %g is out of range.\nAcceptable values are %g to %g." as an error object.
ErrorInfo QS812speedRangeError(const Platform& p, const ProcessIdentity& identity, const BundleInfo* bundle, double value, double minimum, double maximum);

}  // namespace vl
