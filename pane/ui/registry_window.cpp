// The registry viewer sheet's widgets.
#include "pane/ui/registry_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vl::ui {

RegistryWindow::RegistryWindow(const Platform& platform, QWidget* parent)
    : QDialog(parent), text_(new QPlainTextEdit(this)), save_(new QPushButton(QStringLiteral("Save"), this)),
      delegate_(platform.registry, *this) {
  setWindowTitle(QStringLiteral("I/O Registry"));
  setWindowModality(Qt::WindowModal);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setAccessibleName(QStringLiteral("I/O Registry"));
  text_->horizontalScrollBar()->setAccessibleName(QStringLiteral("Horizontal scroll bar"));
  text_->verticalScrollBar()->setAccessibleName(QStringLiteral("Vertical scroll bar"));
  text_->setPlainText(QString::fromUtf8(kRegistryPleaseWait));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  save_->setAccessibleName(save_->text());
  close->setAccessibleName(close->text());
  connect(save_, &QPushButton::clicked, this, [this] { delegate_.save(); });
  connect(close, &QPushButton::clicked, this, [this] { delegate_.closeIORegWindow(); });
  // Escape closes through the delegate too, so the text goes back to "Please wait...".
  connect(this, &QDialog::rejected, this, [this] { delegate_.closeIORegWindow(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  resize(760, 520);
}

void RegistryWindow::showSheet() { open(); }

void RegistryWindow::closeSheet() {
  for (QDialog* child : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) child->close();
  if (isVisible()) hide();
}

void RegistryWindow::setText(const std::string& text) { text_->setPlainText(QString::fromStdString(text)); }

void RegistryWindow::runSavePanel(const std::string& proposedName,
                                  std::function<void(const std::optional<std::string>&)> completion) {
  runSaveDialog(this, proposedName, chooser, std::move(completion));
}

}  // namespace vl::ui
