// The support report: what support needs to know about the selected device, this Mac and the
// software around it, as one text, and the alert that mails it or copies it to the clipboard.
#pragma once

#include <string>

#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;
class SheetHost;

inline constexpr const char* kCreateEmailButton = "Create an Email";
inline constexpr const char* kCopyToClipboardButton = "Copy to Clipboard";
inline constexpr const char* kReportCopiedText = "The report is on the clipboard. Paste it into a message to support.";
inline constexpr const char* kReportNotCopiedText = "The report could not be put on the clipboard.";
// Keys of the "vl" strings table.
inline constexpr const char* kSupportAddressKey = "Support Mail Address";
inline constexpr const char* kSupportMessageKey = "Contact Support Message";
inline constexpr const char* kSupportSubjectKey = "[Velmora]";
// The signer that is ours and so not worth reporting.
inline constexpr const char* kOwnSigner = "Quillon Systems";

// The report for device (null: the lines that need a device are left with zeros), dated date.
std::string supportReportText(SheetHost& pane, const QS802DeviceClass* device, const std::string& date);
// "mailto:<address>?subject=<subject>%20&body=<report>", subject and report percent-escaped.
std::string supportMailURL(const std::string& address, const std::string& subject, const std::string& report);
// The current date as the report shows it: "2026-12-07 19:40:05 +0000".
std::string supportReportDate();

}  // namespace vl
