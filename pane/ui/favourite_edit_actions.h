// FavouriteEditActions: Cut, Copy and Paste of the pane's Edit menu, with the platform's
// shortcuts. In a text field they edit its text; elsewhere on the speed tab they copy the
// selected favourite as text, or paste one onto it (the favourites table's logic).
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "pane/editing/favorite_table.h"

namespace vl::ui {

class FavouriteEditActions : public QObject {
  Q_OBJECT
 public:
  // Adds the three actions to menu and to scope (the pane's view, whose window the shortcuts
  // work in). speedTabShown tells whether the favourites are on screen; text gives the menu's
  // titles in the user's language.
  FavouriteEditActions(QMenu* menu, QWidget* scope, std::function<bool()> speedTabShown,
                       const std::function<QString(const char*)>& text);
  ~FavouriteEditActions() override;

  // The favourites' logic while a controller is attached (null: only text fields are served).
  // changed runs after a paste changed the selected favourite.
  void attach(SpeedEditingHost* host, Pasteboard* pasteboard, std::function<void()> changed);

  QAction* cutAction() const { return cut_; }
  QAction* copyAction() const { return copy_; }
  QAction* pasteAction() const { return paste_; }
  // The menu's view of what each would do now (validateMenuItem).
  void updateEnabled();

 private:
  enum class Command { Cut, Copy, Paste };
  void run(Command command);
  // The text field inside scope that has the focus; null when none does.
  QWidget* focusedField() const;

  QPointer<QWidget> scope_;
  std::function<bool()> speedTabShown_;
  std::unique_ptr<FavouriteTable> table_;
  std::function<void()> changed_;
  QAction* cut_;
  QAction* copy_;
  QAction* paste_;
};

}  // namespace vl::ui
