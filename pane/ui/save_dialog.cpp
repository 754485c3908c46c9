// The Qt save panel: a QFileDialog shown as a sheet on the window that asks.
#include "pane/ui/save_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <memory>

namespace vl::ui {

void runSaveDialog(QWidget* parent, const std::string& proposedName, const SavePathChooser& chooser,
                   std::function<void(const std::optional<std::string>&)> completion) {
  if (chooser) {
    completion(chooser(proposedName));
    return;
  }
  auto* dialog = new QFileDialog(parent, QStringLiteral("Save"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setDirectory(QDir::home());
  dialog->selectFile(QString::fromStdString(proposedName));
  auto done = std::make_shared<std::function<void(const std::optional<std::string>&)>>(std::move(completion));
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [done](const QString& file) {
    if (auto c = std::exchange(*done, nullptr)) c(file.toStdString());
  });
  QObject::connect(dialog, &QDialog::rejected, dialog, [done] {
    if (auto c = std::exchange(*done, nullptr)) c(std::nullopt);
  });
  dialog->open();
}

void showSaveFailure(QWidget* parent, const std::string& message) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("The file was not saved"),
                              QString::fromStdString(message), QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->open();
}

}  // namespace vl::ui
