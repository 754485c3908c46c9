// The window as a whole: every control carries an accessible name, a screenshot of the speed
// tab shows the graph with the favourites' colours, and the plug-in and the embedded run loop
// work as the host uses them.
#include <dlfcn.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAccessible>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTabBar>

#include "pane/graph/curve_view.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/pane_plugin.h"
#include "pane/ui/qt_drawing_surface.h"
#include "pane/ui/sd_event_bridge.h"
#include "tests/support/result_value.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class Window : public test::UiBench {};

bool isControl(QWidget* w) {
  return qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSlider*>(w) ||
         qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTabBar*>(w);
}

// Parts a composite control makes for itself (a table's scroll bars and header, a tab bar's
// scroll buttons) are named by Qt's own accessibility for it.
bool insideComposite(QWidget* w, QWidget* top) {
  for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget())
    if (qobject_cast<QAbstractItemView*>(p) || qobject_cast<QTabBar*>(p)) return true;
  return false;
}

TEST_F(Window, EveryControlHasItsLabelAsAccessibleName) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  std::vector<std::string> unnamed;
  int controls = 0;
  for (QWidget* w : view().findChildren<QWidget*>()) {
    if (!isControl(w) || insideComposite(w, &view())) continue;
    ++controls;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    const QString name = a ? a->text(QAccessible::Name) : QString();
    if (name.trimmed().isEmpty()) unnamed.push_back(w->metaObject()->className() + std::string(" ") + w->objectName().toStdString());
  }
  EXPECT_GE(controls, 15);
  EXPECT_TRUE(unnamed.empty()) << "without a name: " << ::testing::PrintToString(unnamed);
  // The names are the labels the user reads.
  EXPECT_EQ(view().sensitivityField()->accessibleName(), QStringLiteral("Sensitivity"));
  EXPECT_EQ(view().disableAcclCheckbox()->accessibleName(), view().disableAcclCheckbox()->text());
  EXPECT_EQ(view().versionLabel()->text(), QStringLiteral("Ver 2.2.3"));
}

// Counts the pixels of img within a small distance of colour.
int pixelsNear(const QImage& img, const QColor& colour, int tolerance = 40) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      QColor c = img.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) + std::abs(c.blue() - colour.blue()) <=
          tolerance)
        ++n;
    }
  return n;
}

TEST_F(Window, ScreenshotOfTheSpeedTabShowsTheGraphInTheFavouritesColours) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  // Every curve shown, so each favourite's colour must appear.
  for (size_t i = 0; i < kCurveRows; ++i)
    if (!view().curvePanel()->curveCheckbox(i)->isChecked()) view().curvePanel()->curveCheckbox(i)->click();
  settle();
  QApplication::processEvents();

  const QString folder = QStringLiteral(VELMORA_UI_ARTIFACTS);
  QDir().mkpath(folder);
  const QImage window = host->grab().toImage();
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window.save(folder + QStringLiteral("/speed-tab.png"), "PNG"));

  ui::CurveCanvas* canvas = view().curvePanel()->canvas();
  const QRect area(canvas->mapTo(host.get(), QPoint(0, 0)), canvas->size());
  ASSERT_TRUE(window.rect().contains(area)) << "the graph lies outside the window";
  const QImage graph = window.copy(area);
  // Not blank: the frame of the plot in dark gray, and every favourite's colour on a curve.
  EXPECT_GT(pixelsNear(graph, ui::toQColor(kGraphFrameColour), 20), 600 + 300);
  const size_t focused = ui->controller().curveView().cursorSpeedIndex();
  for (size_t i = 0; i < kCurveRows; ++i) {
    // The chosen favourite's curve is opaque, the others faint over the white plot.
    const Rgba c = favouriteColour(static_cast<int>(i));
    const double a = i == focused ? 1.0 : kSourceCurveAlpha;
    const QColor expected = ui::toQColor({c.r * a + (1 - a), c.g * a + (1 - a), c.b * a + (1 - a), 1});
    EXPECT_GT(pixelsNear(graph, expected, 45), 20) << "favourite " << i + 1 << " (" << expected.name().toStdString() << ")";
  }
  // And the window around it is drawn: the tables and the fields are there.
  EXPECT_GT(view().deviceTable()->model()->rowCount(), 0);
  EXPECT_FALSE(view().sensitivityField()->text().isEmpty());
}

TEST(QtDrawingSurface, FlipsYSoTheGraphsOriginIsBottomLeft) {
  QImage img(100, 50, QImage::Format_ARGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    ui::QtDrawingSurface s(p, 50);
    s.fillRect({10, 0, 5, 5}, {1, 0, 0, 1});  // at the bottom of the view
    CurvePath path;
    path.moveTo(0, 40);
    path.lineTo(99, 40);
    s.strokePath(path, {0, 0, 1, 1}, 1);
    s.pushClip({50, 0, 50, 50});
    s.fillRect({0, 20, 100, 2}, {0, 1, 0, 1});  // only its right half inside the clip
    s.popClip();
    s.frameRect({60, 0, 30, 10}, {0, 0, 0, 1}, 1);
  }
  EXPECT_EQ(img.pixelColor(12, 47), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(12, 2), QColor(Qt::white));
  EXPECT_GT(img.pixelColor(30, 10).blue(), 150);
  EXPECT_LT(img.pixelColor(30, 10).red(), 150);
  EXPECT_EQ(img.pixelColor(20, 28), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(70, 28), QColor(Qt::green));
  EXPECT_EQ(img.pixelColor(60, 45), QColor(Qt::black));  // the frame's band
  EXPECT_EQ(img.pixelColor(75, 45), QColor(Qt::white));  // its inside
}

TEST(PanePlugin, ExportsOneEntryPointWithTheCurrentTable) {
  void* lib = dlopen(VELMORA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto entry = reinterpret_cast<VelmoraPaneEntryFunction>(dlsym(lib, "velmora_pane_entry"));
  ASSERT_NE(entry, nullptr);
  const VelmoraPaneEntry* e = entry();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->abiVersion, kVelmoraPaneAbiVersion);
  for (const void* f : {(const void*)e->create, (const void*)e->mainNibName, (const void*)e->loadMainView,
                        (const void*)e->willSelect, (const void*)e->didSelect, (const void*)e->shouldUnselect,
                        (const void*)e->willUnselect, (const void*)e->selectTab, (const void*)e->destroy})
    EXPECT_NE(f, nullptr);
  // Nothing else leaks out of the library: its own copies of the core stay private.
  EXPECT_EQ(dlsym(lib, "_ZN2vl10ErrorStack4pushEPKcl"), nullptr);
  dlclose(lib);
}

// Runs Qt's loop as an application does (it sleeps between events) until done() or 5 s.
bool runQtLoopUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  check.start(20);
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

TEST(SdEventBridge, RunsTheLoopsWorkFromQtsLoop) {
  auto loop = test::valueOf(linux_::SdEventRunLoop::create());
  ASSERT_TRUE(loop);
  ui::SdEventBridge bridge(*loop);
  int ran = 0, observed = 0;
  loop->addEndOfPassObserver([&] { ++observed; });
  loop->post([&] { ++ran; });
  // Posted from inside a callout, as a controller's work schedules more work.
  loop->post([&] { loop->post([&] { ++ran; }); });
  EXPECT_TRUE(runQtLoopUntil([&] { return ran == 2; }));
  EXPECT_GE(observed, 1);
  // A nested call (a modal box opened by a callout) does not dispatch inside the dispatch.
  int inner = -1;
  loop->post([&] { inner = bridge.drain(); });
  EXPECT_TRUE(runQtLoopUntil([&] { return inner != -1; }));
  // A delayed perform scheduled from Qt's side runs when it is due.
  bool late = false;
  loop->perform(&late, "late", 0.05, [&] { late = true; });
  EXPECT_TRUE(runQtLoopUntil([&] { return late; }));
  EXPECT_EQ(inner, 0);
}

}  // namespace
}  // namespace vl
