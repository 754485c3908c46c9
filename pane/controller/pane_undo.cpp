// The Edit menu's undo: every closed group of store changes leaves a step in the history of the
// window that takes store undo (the main window, or a sheet marked for it); stepping that
// history undoes or redoes the store, whose changes then reach the agent like any other.
#include "core/store/object_context.h"
#include "pane/controller/pane_controller.h"

namespace vl {

int32_t quillon_Velmora_prefpane::registerUndoNotification() {
  ManagedObjectContext* ctx = managedObjectContext_.get();
  if (!ctx) return 0;
  if (!ctx->undoManager()) ctx->setUndoManager(std::make_unique<UndoManager>());
  if (!undoRegistered_) {
    undoToken_ = ctx->undoManager()->addObserver([this](UndoManager::Event e) { undoNotification(e); });
    undoRegistered_ = true;
  }
  return 0;
}

void quillon_Velmora_prefpane::removeUndoNotification() {
  if (undoRegistered_ && managedObjectContext_ && managedObjectContext_->undoManager())
    managedObjectContext_->undoManager()->removeObserver(undoToken_);
  undoRegistered_ = false;
  undoToken_ = 0;
}

void quillon_Velmora_prefpane::undoNotification(UndoManager::Event event) {
  ManagedObjectContext* ctx = managedObjectContext_.get();
  if (!ctx || !ctx->undoManager()) return;
  // A group that closes empty leaves nothing to undo.
  if (event == UndoManager::Event::WillCloseUndoGroup && !ctx->undoManager()->canUndo()) return;
  UndoManager& target = sheetTakesStoreUndo_ && !window_.attachedSheets().empty() ? sheetUndo_ : mainWindowUndo_;
  // While the window's own history runs a step, what is registered here becomes its inverse.
  bool own = target.isUndoing() || target.isRedoing();
  // The step keeps the store step's name ("Sensitivity"), which the Edit menu shows.
  const std::string name = event == UndoManager::Event::DidUndo ? ctx->undoManager()->redoActionName()
                                                                : ctx->undoManager()->undoActionName();
  if (!own) target.beginUndoGrouping();
  if (event == UndoManager::Event::DidUndo)
    target.registerUndo([this] {
      if (managedObjectContext_) managedObjectContext_->redo();
    });
  else
    target.registerUndo([this] {
      if (managedObjectContext_) managedObjectContext_->undo();
    });
  if (!own) {
    target.setActionName(name);
    target.endUndoGrouping();
  }
  window_.undoStateChanged();
}

void quillon_Velmora_prefpane::removeAllUndoActions() {
  if (ManagedObjectContext* ctx = managedObjectContext_.get()) {
    ctx->processPendingChanges();
    if (UndoManager* u = ctx->undoManager()) u->removeAllActions();
  }
  window_.removeTextUndoActions();
  sheetUndo_.removeAllActions();
  mainWindowUndo_.removeAllActions();
  window_.undoStateChanged();
}

void quillon_Velmora_prefpane::mocUndoRegisterWindow(bool sheetTakesStoreUndo) {
  sheetTakesStoreUndo_ = sheetTakesStoreUndo;
  sheetUndo_.removeAllActions();
  window_.undoStateChanged();
}

namespace {
UndoManager& frontHistory(bool sheetTakes, bool sheetAttached, UndoManager& sheet, UndoManager& main) {
  return sheetTakes && sheetAttached ? sheet : main;
}
}  // namespace

bool quillon_Velmora_prefpane::canUndo() const {
  auto& self = const_cast<quillon_Velmora_prefpane&>(*this);
  return frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), self.sheetUndo_, self.mainWindowUndo_)
      .canUndo();
}

bool quillon_Velmora_prefpane::canRedo() const {
  auto& self = const_cast<quillon_Velmora_prefpane&>(*this);
  return frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), self.sheetUndo_, self.mainWindowUndo_)
      .canRedo();
}

std::string quillon_Velmora_prefpane::undoActionName() const {
  auto& self = const_cast<quillon_Velmora_prefpane&>(*this);
  return frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), self.sheetUndo_, self.mainWindowUndo_)
      .undoActionName();
}

std::string quillon_Velmora_prefpane::redoActionName() const {
  auto& self = const_cast<quillon_Velmora_prefpane&>(*this);
  return frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), self.sheetUndo_, self.mainWindowUndo_)
      .redoActionName();
}

void quillon_Velmora_prefpane::undo() {
  // A group of this pass still open becomes a step of its own first.
  if (managedObjectContext_) managedObjectContext_->processPendingChanges();
  frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), sheetUndo_, mainWindowUndo_).undo();
  window_.undoStateChanged();
}

void quillon_Velmora_prefpane::redo() {
  if (managedObjectContext_) managedObjectContext_->processPendingChanges();
  frontHistory(sheetTakesStoreUndo_, !window_.attachedSheets().empty(), sheetUndo_, mainWindowUndo_).redo();
  window_.undoStateChanged();
}

void quillon_Velmora_prefpane::tabViewDidSelectTabViewItem(PaneTab) { removeAllUndoActions(); }

}  // namespace vl
