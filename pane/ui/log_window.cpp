// The log window's widgets and keys.
#include "pane/ui/log_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vl::ui {

namespace {
// How close to the bottom the user must be for the view to follow new text.
constexpr int kFollowDistance = 10;
}  // namespace

LogWindow::LogWindow(QWidget* parent) : QDialog(parent), text_(new QPlainTextEdit(this)), delegate_(*this) {
  setWindowTitle(QStringLiteral("Log"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(12);
  text_->setFont(font);
  text_->setAccessibleName(QStringLiteral("Log"));
  text_->horizontalScrollBar()->setAccessibleName(QStringLiteral("Horizontal scroll bar"));
  text_->verticalScrollBar()->setAccessibleName(QStringLiteral("Vertical scroll bar"));
  text_->installEventFilter(this);
  auto* save = new QPushButton(QStringLiteral("Save"), this);
  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  connect(closeButton, &QPushButton::clicked, this, [this] { close(); });
  for (QPushButton* b : {save, clear, closeButton}) {
    b->setAccessibleName(b->text());
    b->setAutoDefault(false);
  }
  connect(save, &QPushButton::clicked, this, [this] { delegate_.saveLogViewer(); });
  connect(clear, &QPushButton::clicked, this, [this] { delegate_.clearLogViewer(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(clear);
  buttons->addWidget(save);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  resize(640, 420);
}

void LogWindow::showText(const std::string& text, double) {
  // The view's own geometry decides the follow rule; the delegate's position is for views
  // without one.
  QScrollBar* bar = text_->verticalScrollBar();
  const bool follow = bar->maximum() - bar->value() <= kFollowDistance;
  const int keep = bar->value();
  text_->setPlainText(QString::fromStdString(text));
  bar->setValue(follow ? bar->maximum() : keep);
}

void LogWindow::cancelAttachedSheet() {
  for (QDialog* child : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) child->reject();
}

void LogWindow::closeWindow() {
  closing_ = true;
  close();
  closing_ = false;
}

void LogWindow::closeEvent(QCloseEvent* event) {
  if (!closing_) delegate_.windowWillClose();
  QDialog::closeEvent(event);
}

bool LogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == text_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Backspace) return delegate_.textViewDoCommandBySelector("deleteBackward:");
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
      return delegate_.textViewDoCommandBySelector("insertNewline:");
  }
  return QDialog::eventFilter(watched, event);
}

void LogWindow::runSavePanel(const std::string& proposedName,
                             std::function<void(const std::optional<std::string>&)> completion) {
  runSaveDialog(this, proposedName, chooser, std::move(completion));
}

}  // namespace vl::ui
