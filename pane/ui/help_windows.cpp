// The Help menu, the help window and the speed-help window with its controls on the text.
#include "pane/ui/help_windows.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "core/store/store_text.h"
#include "core/system/strings.h"
#include "platform/api/runloop.h"

namespace vl::ui {

namespace {

QString text(const Platform& p, const char* key) {
  if (!p.paths) return QString::fromUtf8(key);
  return QString::fromStdString(localized(p, key, kTableVl));
}

// The text view's scroll bars carry names of their own, as every control does.
void nameScrollBars(QTextBrowser* view, const Platform& p) {
  view->horizontalScrollBar()->setAccessibleName(text(p, "Horizontal scroll bar"));
  view->verticalScrollBar()->setAccessibleName(text(p, "Vertical scroll bar"));
}

QString helpHtml(const Platform& p, const char* resource) {
  std::optional<std::string> html = loadHelpText(p, resource);
  return html ? QString::fromStdString(*html) : QString();
}

}  // namespace

// --- HelpWindow -------------------------------------------------------------------------------

HelpWindow::HelpWindow(const Platform& platform, QWidget* parent)
    : QDialog(parent), platform_(platform), text_(new QTextBrowser(this)) {
  setWindowTitle(text(platform, "Velmora Help"));
  setAccessibleName(windowTitle());
  text_->setAccessibleName(windowTitle());
  text_->setOpenExternalLinks(true);
  nameScrollBars(text_, platform);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  resize(560, 520);
}

void HelpWindow::showHelp() {
  if (!loaded_) {
    text_->setHtml(helpHtml(platform_, kPaneHelpResource));
    loaded_ = true;
  }
  show();
  raise();
  activateWindow();
}

// --- SpeedHelpWindowWidget --------------------------------------------------------------------

SpeedHelpWindowWidget::SpeedHelpWindowWidget(const Platform& platform, QWidget* parent)
    : QDialog(parent), platform_(platform), text_(new QTextBrowser(this)) {
  setWindowTitle(text(platform, "Speed Help"));
  setAccessibleName(windowTitle());
  text_->setAccessibleName(windowTitle());
  text_->setHtml(helpHtml(platform, kSpeedHelpResource));
  nameScrollBars(text_, platform);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);

  QWidget* over = text_->viewport();
  zero_ = new QPushButton(text(platform, "Tracking 0"), over);
  zero_->setAccessibleName(zero_->text());
  zero_->setAutoDefault(false);
  connect(zero_, &QPushButton::clicked, this, [this] {
    if (logic_) logic_->setTrackingSpeedtoZero();
    endPass();
  });
  short_ = makeBox(text(platform, "Short movements"),
                   {text(platform, "The cursor went past where I aimed"),
                    text(platform, "I had to move my hand too far"), text(platform, "It landed where I looked")},
                   false);
  long_ = makeBox(text(platform, "Long movements"),
                  {text(platform, "I had to lift the mouse to get across"),
                   text(platform, "The cursor shot past the edge"), text(platform, "It went where I wanted")},
                  true);
  // Off-screen until show places them.
  for (QWidget* w : std::initializer_list<QWidget*>{zero_, short_, long_}) w->move(-1000, -1000);
  connect(text_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { replace(); });
  resize(600, 560);
}

QGroupBox* SpeedHelpWindowWidget::makeBox(const QString& title, const QStringList& answers,
                                          bool tracking) {
  auto* box = new QGroupBox(title, text_->viewport());
  box->setAccessibleName(title);
  auto* group = new QButtonGroup(box);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(6, 2, 6, 2);
  layout->setSpacing(0);
  for (const QString& answer : answers) {
    auto* radio = new QRadioButton(answer, box);
    radio->setAccessibleName(answer);
    group->addButton(radio);
    layout->addWidget(radio);
  }
  // Whatever the answer, the field to adjust next takes the focus.
  connect(group, &QButtonGroup::buttonClicked, this, [this, tracking] {
    if (logic_ && tracking) logic_->moveFocusToTrackingSpeed();
    if (logic_ && !tracking) logic_->moveFocusToSensitivity();
    endPass();
  });
  box->adjustSize();
  return box;
}

std::string SpeedHelpWindowWidget::helpText() const { return text_->toPlainText().toStdString(); }

std::optional<HelpPoint> SpeedHelpWindowWidget::markCharacters(size_t position, size_t length) {
  QTextDocument* doc = text_->document();
  const int from = static_cast<int>(position);
  const int to = static_cast<int>(position + length);
  if (to >= doc->characterCount()) return std::nullopt;
  QTextCursor marker(doc);
  marker.setPosition(from);
  marker.setPosition(to, QTextCursor::KeepAnchor);
  QTextCharFormat clear;
  clear.setForeground(Qt::transparent);
  marker.mergeCharFormat(clear);
  QTextCursor at(doc);
  at.setPosition(from);
  const QRect r = text_->cursorRect(at);
  return HelpPoint{static_cast<double>(r.left()), static_cast<double>(r.top())};
}

void SpeedHelpWindowWidget::placeControl(HelpControl control, HelpPoint origin) {
  QWidget* w = control == HelpControl::ZeroButton ? static_cast<QWidget*>(zero_)
               : control == HelpControl::ShortBox ? static_cast<QWidget*>(short_)
                                                  : static_cast<QWidget*>(long_);
  w->move(static_cast<int>(origin.x), static_cast<int>(origin.y));
  w->show();
}

void SpeedHelpWindowWidget::orderFront() {
  if (!isVisible()) show();
  raise();
  if (!isActiveWindow()) activateWindow();
}

void SpeedHelpWindowWidget::clearAllButtons() {
  for (QButtonGroup* group : findChildren<QButtonGroup*>()) {
    // An exclusive group keeps one button checked; it lets go of all only while not exclusive.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
  }
}

void SpeedHelpWindowWidget::endPass() {
  // The store hands a change on (to the graph, the agent) when the loop's pass ends: one more
  // turn of the loop ends it now rather than at the next unrelated event.
  if (platform_.runLoop) platform_.runLoop->post([] {});
}

void SpeedHelpWindowWidget::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  replace();
}

void SpeedHelpWindowWidget::replace() {
  if (placing_ || !isVisible()) return;
  placing_ = true;
  const std::string plain = helpText();
  auto mark = [this](size_t p, size_t n) { return markCharacters(p, n); };
  placeControl(HelpControl::ZeroButton, SpeedHelpView::boundingRectForString(kZeroButtonMarker, plain, mark));
  placeControl(HelpControl::ShortBox, SpeedHelpView::boundingRectForString(kShortBoxMarker, plain, mark));
  placeControl(HelpControl::LongBox, SpeedHelpView::boundingRectForString(kLongBoxMarker, plain, mark));
  placing_ = false;
}

// --- PaneHelp ---------------------------------------------------------------------------------

PaneHelp::PaneHelp(const Platform& platform, SpeedEditingHost& host, PaneWindow& window, QWidget* parent)
    : QObject(parent) {
  menu_ = new QMenu(text(platform, "Help"), parent);
  help_ = menu_->addAction(text(platform, "Velmora Help"));
  help_->setShortcut(QKeySequence::HelpContents);
  speedHelp_ = menu_->addAction(text(platform, "Speed Help"));
  for (QAction* a : {help_, speedHelp_}) {
    a->setShortcutContext(Qt::WindowShortcut);
    parent->addAction(a);
  }
  helpWindow_ = new HelpWindow(platform, parent);
  helpWindow_->setWindowFlag(Qt::Window);
  speedWindow_ = new SpeedHelpWindowWidget(platform, parent);
  speedWindow_->setWindowFlag(Qt::Window);
  logic_ = std::make_unique<SpeedHelpView>(host, window, *speedWindow_);
  speedWindow_->setLogic(logic_.get());
  connect(help_, &QAction::triggered, this, [this] {
    if (helpWindow_) helpWindow_->showHelp();
  });
  connect(speedHelp_, &QAction::triggered, this, [this] { logic_->show(); });
}

PaneHelp::~PaneHelp() {
  if (speedWindow_) speedWindow_->setLogic(nullptr);
  delete helpWindow_.data();
  delete speedWindow_.data();
  delete menu_.data();
}

}  // namespace vl::ui
