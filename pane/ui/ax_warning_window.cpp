// The accessibility warning sheet's widgets, and a confirmation that only a click answers.
#include "pane/ui/ax_warning_window.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "pane/ui/local_texts.h"

namespace vl::ui {

AXWarningWindow::AXWarningWindow(quillon_Velmora_prefpane& pane, QWidget* parent)
    : QDialog(parent), message_(new QLabel(this)), informative_(new QLabel(this)), delegate_(AXWarningDelegate::Ports::from(pane.platform()), pane, *this) {
  setWindowTitle(QStringLiteral("Accessibility"));
  setWindowModality(Qt::WindowModal);
  QFont bold = message_->font();
  bold.setBold(true);
  message_->setFont(bold);
  for (QLabel* l : {message_, informative_}) {
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto* uninstall = new QPushButton(QStringLiteral("Uninstall"), this);
  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  for (QPushButton* b : {ok, cancel, uninstall, clear}) {
    b->setAccessibleName(b->text());
    b->setAutoDefault(false);
  }
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { delegate_.okButton(); });
  connect(cancel, &QPushButton::clicked, this, [this] { delegate_.cancelButton(); });
  connect(uninstall, &QPushButton::clicked, this, [this] { delegate_.uninstallButton(); });
  connect(clear, &QPushButton::clicked, this, [this] { delegate_.clearButton(); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear);
  buttons->addWidget(uninstall);
  buttons->addStretch();
  buttons->addWidget(cancel);
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addWidget(informative_);
  layout->addLayout(buttons);
  resize(520, 180);
}

void AXWarningWindow::showSheet(const AXWarningTexts& texts) {
  message_->setText(onThisSystem(QString::fromStdString(texts.message)));
  informative_->setText(onThisSystem(QString::fromStdString(texts.informative)));
  message_->setAccessibleName(message_->text());
  informative_->setAccessibleName(informative_->text());
  open();
}

void AXWarningWindow::closeSheet() {
  if (isVisible()) hide();
}

void AXWarningWindow::runConfirmAlert(const SheetAlert& alert, std::function<void(int)> completion) {
  auto* box = new QMessageBox(window());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(QStringLiteral("Velmora"));
  box->setWindowModality(Qt::ApplicationModal);
  box->setText(onThisSystem(QString::fromStdString(alert.messageText)));
  box->setInformativeText(onThisSystem(QString::fromStdString(alert.informativeText)));
  box->setAccessibleName(box->text());
  std::vector<std::string> titles = alert.buttons;
  if (titles.empty()) titles.push_back("OK");
  auto done = std::make_shared<std::function<void(int)>>(std::move(completion));
  for (size_t i = 0; i < titles.size(); ++i) {
    // ActionRole everywhere: no button becomes the Escape button, and none is a default one,
    // so neither Return nor Escape answers a question this grave.
    QPushButton* b = box->addButton(QString::fromStdString(titles[i]), QMessageBox::ActionRole);
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setAccessibleName(b->text());
    const int code = kAlertFirstButtonReturn + static_cast<int>(i);
    connect(b, &QPushButton::clicked, box, [box, done, code] {
      auto c = std::exchange(*done, nullptr);
      box->close();
      if (c) c(code);
    });
  }
  confirm_ = box;
  box->show();
}

}  // namespace vl::ui
