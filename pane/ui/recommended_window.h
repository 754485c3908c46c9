// RecommendedWindow: the recommended-settings window in Qt Widgets — the identity fields and the
// search button (search mode only), the ranking table, date, status and total, a busy bar that
// moves while the ranking downloads, "Apply", and the sharing alert as a window-modal sheet.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "pane/windows/recommended_window.h"
#include "platform/api/platform.h"

namespace vl::ui {

class RecommendedWindow : public QWidget, public RecommendedWindowView {
  Q_OBJECT
 public:
  // logic must outlive the window (it owns it). Texts come from platform's strings tables.
  RecommendedWindow(const Platform& platform, RecommendedWindowLogic& logic, QWidget* parent = nullptr);
  ~RecommendedWindow() override;

  // The rating as the table shows it: filled stars then empty ones, five in all.
  static QString stars(int64_t rating);

  // The controls, for tests.
  QLineEdit* field(RecdField f) const;
  QPushButton* searchButton() const { return searchButton_; }
  QPushButton* applyButton() const { return applyButton_; }
  QPushButton* closeButton() const { return closeButton_; }
  QTableWidget* table() const { return table_; }
  QLabel* dateLabel() const { return date_; }
  QLabel* statusLabel() const { return status_; }
  QLabel* totalLabel() const { return total_; }
  QProgressBar* progressBar() const { return progress_; }
  QMessageBox* sheet() const { return sheet_; }

  // --- RecommendedWindowView ---------------------------------------------------------------
  void showWindow() override;
  void bringToFront() override;
  void closeWindow() override;
  bool isVisibleOrMinimised() const override;
  void setSearchControlsVisible(bool visible) override;
  std::string fieldText(RecdField field) const override;
  void setFieldText(RecdField field, const std::string& text) override;
  void setRows(const std::vector<RecommendedEntry>& rows) override;
  std::optional<size_t> selectedRow() const override;
  void setStatusText(const std::string& text) override;
  void setTotalText(const std::string& text) override;
  void showDownloadDate() override;
  void startProgress() override;
  void stopProgress() override;
  bool hasSheet() const override;
  void showSheetAlert(const SheetAlert& alert, std::function<void(int)> completion) override;
  void endSheet() override;
  void beep() override;

 protected:
  // Closed by the user from the title bar: the same as the pane closing it.
  void closeEvent(QCloseEvent* event) override;

 private:
  QString text(const char* key, const char* table = "dvvl") const;
  void finishSheet(int returnCode);
  void apply();

  Platform platform_;
  RecommendedWindowLogic& logic_;
  QLineEdit* vid_ = nullptr;
  QLineEdit* pid_ = nullptr;
  QLineEdit* mid_ = nullptr;
  QLineEdit* transport_ = nullptr;
  QWidget* searchRow_ = nullptr;
  QPushButton* searchButton_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* date_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* total_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* applyButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QPointer<QMessageBox> sheet_;
  std::function<void(int)> sheetCompletion_;
  bool closing_ = false;
};

}  // namespace vl::ui
