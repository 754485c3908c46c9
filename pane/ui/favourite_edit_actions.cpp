// The Edit menu's Cut, Copy and Paste: text fields first, else the selected favourite.
#include "pane/ui/favourite_edit_actions.h"

#include <QApplication>
#include <QLineEdit>

namespace vl::ui {

FavouriteEditActions::FavouriteEditActions(QMenu* menu, QWidget* scope, std::function<bool()> speedTabShown,
                                           const std::function<QString(const char*)>& text)
    : QObject(scope), scope_(scope), speedTabShown_(std::move(speedTabShown)) {
  menu->addSeparator();
  cut_ = menu->addAction(text("Cut"));
  cut_->setShortcut(QKeySequence::Cut);
  copy_ = menu->addAction(text("Copy"));
  copy_->setShortcut(QKeySequence::Copy);
  paste_ = menu->addAction(text("Paste"));
  paste_->setShortcut(QKeySequence::Paste);
  for (QAction* a : {cut_, copy_, paste_}) {
    // A text field takes its own shortcuts first (it asks for them before the window does).
    a->setShortcutContext(Qt::WindowShortcut);
    scope->addAction(a);
  }
  connect(cut_, &QAction::triggered, this, [this] { run(Command::Cut); });
  connect(copy_, &QAction::triggered, this, [this] { run(Command::Copy); });
  connect(paste_, &QAction::triggered, this, [this] { run(Command::Paste); });
  // The menu shows what each would do; its shortcuts stay live and check again when pressed.
  connect(menu, &QMenu::aboutToShow, this, [this] { updateEnabled(); });
  connect(menu, &QMenu::aboutToHide, this, [this] {
    for (QAction* a : {cut_, copy_, paste_}) a->setEnabled(true);
  });
}

FavouriteEditActions::~FavouriteEditActions() = default;

void FavouriteEditActions::attach(SpeedEditingHost* host, Pasteboard* pasteboard, std::function<void()> changed) {
  table_ = host ? std::make_unique<FavouriteTable>(*host, pasteboard) : nullptr;
  changed_ = std::move(changed);
}

QWidget* FavouriteEditActions::focusedField() const {
  QWidget* focus = QApplication::focusWidget();
  if (!focus || !scope_ || !scope_->isAncestorOf(focus)) return nullptr;
  return qobject_cast<QLineEdit*>(focus);
}

void FavouriteEditActions::updateEnabled() {
  if (auto* field = qobject_cast<QLineEdit*>(focusedField())) {
    const bool selected = field->hasSelectedText() && field->echoMode() == QLineEdit::Normal;
    cut_->setEnabled(selected && !field->isReadOnly());
    copy_->setEnabled(selected);
    paste_->setEnabled(!field->isReadOnly());
    return;
  }
  const bool favourites = table_ && speedTabShown_ && speedTabShown_();
  // A favourite is one of five fixed rows: it can be copied, never cut out.
  cut_->setEnabled(false);
  copy_->setEnabled(favourites && table_->validateMenuItem(MenuAction::Copy));
  paste_->setEnabled(favourites && table_->validateMenuItem(MenuAction::Paste));
}

void FavouriteEditActions::run(Command command) {
  if (auto* field = qobject_cast<QLineEdit*>(focusedField())) {
    switch (command) {
      case Command::Cut: field->cut(); break;
      case Command::Copy: field->copy(); break;
      case Command::Paste: field->paste(); break;
    }
    return;
  }
  bool done = false;
  if (table_ && speedTabShown_ && speedTabShown_()) {
    if (command == Command::Copy) done = table_->copy();
    if (command == Command::Paste) {
      done = table_->paste();
      if (done && changed_) changed_();
    }
  }
  // What cannot be done now is refused audibly, as a disabled menu item would be.
  if (!done) QApplication::beep();
}

}  // namespace vl::ui
