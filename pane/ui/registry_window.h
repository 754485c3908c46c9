// RegistryWindow: the registry viewer sheet in Qt — a read-only, unwrapped fixed-pitch text
// view (long lines scroll sideways) with Save and Close.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include "pane/ui/save_dialog.h"
#include "pane/windows/registry_viewer.h"
#include "platform/api/platform.h"

namespace vl::ui {

class RegistryWindow : public QDialog, public RegistryWindowView {
  Q_OBJECT
 public:
  RegistryWindow(const Platform& platform, QWidget* parent);
  RegistryViewerDelegate& delegate() { return delegate_; }
  QPlainTextEdit* textView() const { return text_; }
  QPushButton* saveButton() const { return save_; }
  SavePathChooser chooser;

  void showSheet() override;
  void closeSheet() override;
  void setText(const std::string& text) override;
  void runSavePanel(const std::string& proposedName,
                    std::function<void(const std::optional<std::string>&)> completion) override;
  void showSaveFailure(const std::string& message) override { vl::ui::showSaveFailure(this, message); }

 private:
  QPlainTextEdit* text_;
  QPushButton* save_;
  RegistryViewerDelegate delegate_;
};

}  // namespace vl::ui
