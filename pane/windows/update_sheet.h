// VL225UpdateWinDelegate: the update check of the pane. Asks the web service for the newest
// version when the pane loads (without blocking: the badge appears when the answer comes), shows
// the update sheet once the pane is on screen unless the user skipped that version or asked to
// be reminded less than three hours ago, and answers the "Check for Updates" button.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pane/windows/pane_window.h"
#include "platform/api/http_client.h"
#include "platform/api/platform.h"

namespace vl {

// The pane's defaults domain and the two keys of the update check.
inline constexpr const char* kPaneDefaultsDomain = "quillon.Velmora.prefpane";
inline constexpr const char* kUpdateVersionKey = "quillonVelmoraPrefpane_update_version";  // integer: skipped
inline constexpr const char* kUpdateDateKey = "quillonVelmoraPrefpane_update_date";        // date: remind later
// How long "Remind Me Later" keeps the sheet away, and how long after the pane appears the
// sheet may show.
inline constexpr double kUpdateRemindInterval = 10800.0;
inline constexpr double kUpdateWindowDelay = 0.5;
inline constexpr double kHostVersionTimeout = 1.0;

// The update sheet and the badge; the Qt front end implements it, tests record it.
class UpdateSheetView {
 public:
  virtual ~UpdateSheetView() = default;
  // Shows the sheet with its message on the pane's frontmost window.
  virtual void showUpdateSheet(const std::string& message) = 0;
  virtual void closeUpdateSheet() = 0;
  // The badge in the pane that signals an available update.
  virtual void setBadgeHidden(bool hidden) = 0;
  // "Check for Updates" is waiting for the web service's answer: show that it is (with a way
  // to give up, cancelCheckForUpdates), or stop showing it.
  virtual void showCheckProgress(bool shown) { (void)shown; }
};

// What the delegate needs of the pane.
struct UpdatePane {
  PaneWindow* window = nullptr;        // alerts of checkForUpdates (sheets on the key window)
  std::function<void()> jumpToDLPage;  // opens the download page
  std::function<void()> showAll;
};

struct UpdateSettings {
  std::string versionText = VELMORA_VERSION_TEXT;  // this pane's version
  std::string applicationName = "vl";              // what the web service calls this product
  // Seconds since the epoch (the date stored by "Remind Me Later"); empty: the system clock.
  std::function<double()> clock;
};

class VL225UpdateWinDelegate : public PaneSheet {
 public:
  // What the sheet asks and keeps.
  struct Ports {
    HttpClient* http = nullptr;                  // the version list
    SystemInfo* system = nullptr;                // the system version it is asked with; texts
    Paths* paths = nullptr;                      // texts
    RunLoop* runLoop = nullptr;                  // the delayed window
    UserDefaults* defaults = nullptr;            // "Remind Me Later" and the skipped version
    static Ports from(const Platform& p) { return Ports{p.http, p.system, p.paths, p.runLoop, p.defaults}; }
  };

  VL225UpdateWinDelegate(const Ports& ports, UpdatePane pane, UpdateSheetView& view, UpdateSettings settings = {});
  ~VL225UpdateWinDelegate() override;
  VL225UpdateWinDelegate(const VL225UpdateWinDelegate&) = delete;
  VL225UpdateWinDelegate& operator=(const VL225UpdateWinDelegate&) = delete;

  // Sets curVersion, hides the badge and starts the request for the newest version (pre-releases
  // count only when this version is one). The answer sets hostVersion and the badge.
  void awakeFromNib();
  // Runs showUpdateWindow kUpdateWindowDelay seconds later on the run loop (the pane appeared);
  // cancelScheduled drops it (the pane went away).
  void scheduleUpdateWindow();
  void cancelScheduled();
  // Shows the sheet when a newer version is offered, not skipped and not put off; true when
  // shown. While the answer is still on its way it shows, if it should, when the answer comes.
  bool showUpdateWindow();
  void closeUpdateWindow();
  bool cancelByPrefPane() override;
  // The sheet's buttons.
  void downloadUpdateWindow();
  void skipUpdateWindow();
  void remindUpdateWindow();
  // The pane's "Check for Updates" button. Answers once the newest version is known: while the
  // request is on its way it waits for the answer or the time-out, with the progress shown; when
  // the last request failed it asks again first. A failed request is said to have failed, never
  // taken for "up to date".
  void checkForUpdates();
  // The user gave up waiting: no answer is shown when the request ends.
  void cancelCheckForUpdates();
  bool isCheckingForUpdates() const { return checkWhenKnown_; }

  uint32_t curVersion() const { return curVersion_; }
  uint32_t hostVersion() const { return hostVersion_; }
  bool badgeHidden() const { return badgeHidden_; }
  bool isShown() const { return shown_; }
  // The request has been answered (or failed).
  bool hostVersionKnown() const { return known_; }
  // "Ver <new> is now available. Your version is <this>."
  std::string updateMessage() const;

 private:
  void startRequest();
  void answered(const HttpResult& result);
  void answerCheck();
  double now() const;
  std::string localizedVL(const std::string& key) const;

  Ports ports_;
  UpdatePane pane_;
  UpdateSheetView& view_;
  UpdateSettings settings_;
  uint32_t curVersion_ = 0;
  uint32_t hostVersion_ = 0;
  bool badgeHidden_ = true;
  bool shown_ = false;
  bool known_ = false;
  bool showWhenKnown_ = false;
  bool checkWhenKnown_ = false;
  // Why the last request brought no version list (empty when it did).
  std::string failure_;
  HttpClient::RequestId request_ = 0;
};
using UpdateSheetDelegate = VL225UpdateWinDelegate;  // the readable name

}  // namespace vl
