// QS838RecdWinClass: the recommended-settings window's logic without a toolkit. It downloads the
// ranking of one device model from the web service without blocking the window, shows it or
// the reason there is none, applies a chosen entry through the pane's controller, and asks the
// agent to upload the user's settings when it closes with sharing on. It talks to its window
// through RecommendedWindowView and to the pane's controller through RecommendedWindowHost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/system/ranking.h"
#include "pane/windows/pane_window.h"
#include "platform/api/http_client.h"
#include "platform/api/platform.h"

namespace vl {

class QS802DeviceClass;

// The user-defaults key (in the pane's own domain) that holds the consent to share settings.
inline constexpr const char* kShareSettingsKey = "quillonVelmoraPrefpane_share_settings";

// The window's texts (keys of the strings table "dvvl").
namespace recd {
inline constexpr const char* kTable = "dvvl";
inline constexpr const char* kSharingOff =
    "In order to see recommended settings, you need to share your settings among other users.";
inline constexpr const char* kNoDevice = "No devices are selected.";
inline constexpr const char* kDownloading = "Downloading recommended settings...";
inline constexpr const char* kConnectionFailed =
    "Failed to connect the server. Click the Recommend button to try again. (%@,%d)";
inline constexpr const char* kWrongData = "Data from the server is wrong.";
inline constexpr const char* kNotShared = "Settings are not yet shared among other users.";
inline constexpr const char* kListed =
    "Top 20 settings among users are listed as recommended settings. (You can restore the previous value with ⌘Z "
    "after applying a setting.)";
inline constexpr const char* kStartSharing = "Start Sharing";
}  // namespace recd

// The identity fields of the window (editable in search mode).
enum class RecdField { Vid, Pid, Mid, Transport };

// What the window logic needs of its window. Called on the main thread.
class RecommendedWindowView {
 public:
  virtual ~RecommendedWindowView() = default;

  // makeKeyAndOrderFront: shows the window (restoring it when minimised) in front.
  virtual void showWindow() = 0;
  // orderFront: brings the shown window in front of the others.
  virtual void bringToFront() = 0;
  // Closes (hides) the window.
  virtual void closeWindow() = 0;
  // The window is visible, or minimised to the Dock.
  virtual bool isVisibleOrMinimised() const = 0;

  // The identity fields and the search button are shown only in search mode.
  virtual void setSearchControlsVisible(bool visible) = 0;
  virtual std::string fieldText(RecdField field) const = 0;
  virtual void setFieldText(RecdField field, const std::string& text) = 0;

  // The table's rows ("Ran", "Acc", "Sen", "Rat"); an empty list clears it.
  virtual void setRows(const std::vector<RecommendedEntry>& rows) = 0;
  // The selected row, if any.
  virtual std::optional<size_t> selectedRow() const = 0;

  virtual void setStatusText(const std::string& text) = 0;
  virtual void setTotalText(const std::string& text) = 0;
  // The date field shows the current date and time (in the user's locale).
  virtual void showDownloadDate() = 0;
  // The busy indicator moves between start and stop.
  virtual void startProgress() = 0;
  virtual void stopProgress() = 0;

  // Sheets on this window: whether one is up, showing an alert (completion runs once with the
  // button's return code, kAlertFirstButtonReturn for the first), and ending the one up
  // (its completion gets kAlertCancelledReturn).
  virtual bool hasSheet() const = 0;
  virtual void showSheetAlert(const SheetAlert& alert, std::function<void(int returnCode)> completion) = 0;
  virtual void endSheet() = 0;
  virtual void beep() = 0;
};

// The return code of a sheet ended by the program rather than by a button.
inline constexpr int kAlertCancelledReturn = 0;

// What the window needs of the pane's controller.
class RecommendedWindowHost {
 public:
  virtual ~RecommendedWindowHost() = default;
  // The modifier keys held right now.
  virtual ModifierFlags recommendedModifierFlags() const = 0;
  // The device has been deleted from the store (or is gone with it).
  virtual bool isDeleted(const QS802DeviceClass* device) const = 0;
  // Writes a recommended sensitivity (as displayed) and tracking speed into device's selected
  // favourite, when the pane's rules allow it.
  virtual void applyRecommendedSens(double sensitivityDisplay, double trackingSpeed, QS802DeviceClass* device) = 0;
};

class QS838RecdWinClass {
 public:
  // Makes the window on first use; the view may keep a reference to the logic.
  using ViewFactory = std::function<std::unique_ptr<RecommendedWindowView>(QS838RecdWinClass&)>;

  // What the window reads, downloads, keeps and posts.
  struct Ports {
    HttpClient* http = nullptr;                  // the ranking
    RunLoop* runLoop = nullptr;                  // the delayed download
    UserDefaults* defaults = nullptr;            // the sharing choice
    Notifications* notifications = nullptr;      // asks the agent to upload
    IoRegistry* registry = nullptr;              // with system: the built-in trackpad's identity
    SystemInfo* system = nullptr;                // the system version; texts
    Paths* paths = nullptr;                      // texts
    static Ports from(const Platform& p) {
      return Ports{p.http, p.runLoop, p.defaults, p.notifications, p.registry, p.system, p.paths};
    }
  };

  // bundleIdentifier: the pane's own (its defaults domain, the upload command's sender and the
  // choice of the agent that uploads).
  QS838RecdWinClass(const Ports& ports, RecommendedWindowHost& host, std::string bundleIdentifier);
  ~QS838RecdWinClass();
  QS838RecdWinClass(const QS838RecdWinClass&) = delete;
  QS838RecdWinClass& operator=(const QS838RecdWinClass&) = delete;

  void setViewFactory(ViewFactory factory);
  // The window, when it has been made.
  RecommendedWindowView* view() const { return view_.get(); }

  // Opens the window for device (the pane's selected device, may be null). Shift alone held:
  // search mode, the identity is typed instead. 0.1 s later the download starts, or the sharing
  // alert comes up when sharing is off.
  void show(QS802DeviceClass* device);
  // Asks for consent to share; "Start Sharing" turns sharing on and downloads.
  void showSharingAlert();
  // The window is visible or minimised (not the listShown() flag).
  bool isShown() const;
  // Starts downloading the ranking (the search button's action as well). Returns at once; the
  // answer is shown when it comes. A newer update or close abandons a download still running.
  void update();
  // Applies the table's selected row to the device (double-click or "Apply").
  void applySetting();
  // Closes the window; with sharing on (or after a list was shown) the agent is asked to upload.
  void close();

  // --- State ----------------------------------------------------------------------------------
  QS802DeviceClass* curDevice() const { return curDevice_; }
  bool searchMode() const { return searchMode_; }
  const std::optional<std::vector<RecommendedEntry>>& recommendedList() const { return recommendedList_; }
  // A list was shown since the window was last closed.
  bool listShown() const { return listShown_; }
  // A download is running.
  bool downloading() const { return request_ != 0; }

  bool sharingEnabled() const;
  void setSharingEnabled(bool on);

 private:
  bool ensureView();
  void cancelDownload();
  void finish(const std::string& status, std::optional<std::vector<RecommendedEntry>> list);
  void downloaded(const HttpResult& result, bool searchMode);
  std::string text(const std::string& key) const;

  Ports ports_;
  RecommendedWindowHost& host_;
  std::string bundleIdentifier_;
  ViewFactory factory_;
  std::unique_ptr<RecommendedWindowView> view_;
  QS802DeviceClass* curDevice_ = nullptr;
  bool searchMode_ = false;
  std::optional<std::vector<RecommendedEntry>> recommendedList_;
  bool listShown_ = false;
  HttpClient::RequestId request_ = 0;
  // Answers are taken only from the download this number names.
  uint64_t generation_ = 0;
  // Completions check it, so none runs into a destroyed window.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
using RecommendedWindowLogic = QS838RecdWinClass;  // the readable name

}  // namespace vl
