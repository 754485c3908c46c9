// What a user of the settings window expects of it: it fits a 1366x768 screen with every
// control whole, the graph grows with the window, undo names its step and takes a slider drag
// as one, the graph's curves are told apart and named as the table names them, editors follow
// the lock and the acceleration switch, and the secondary windows open centred and close on
// Escape and Ctrl+W.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QScreen>
#include <cmath>

#include "pane/graph/curve_view.h"
#include "pane/ui/curve_widget.h"
#include "pane/ui/list_models.h"
#include "pane/ui/log_window.h"
#include "pane/ui/qt_drawing_surface.h"
#include "pane/ui/recommended_window.h"
#include "pane/ui/registry_window.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class WindowFit : public test::UiBench {
 protected:
  // The host at a laptop's whole screen (the test's host has a menu bar as the real one has).
  void openOnLaptopScreen() {
    ASSERT_NO_FATAL_FAILURE(openWithMouse());
    host->resize(1366, 768);
    settle();
  }
  void showTab(int index) {
    view().tabs()->setCurrentIndex(index);
    QApplication::processEvents();
  }
  // The controls and labels of the shown tab that are cut by the window or by their own size.
  std::vector<std::string> clipped() {
    std::vector<std::string> out;
    const QRect window = host->rect();
    for (QWidget* w : view().findChildren<QWidget*>()) {
      if (!w->isVisibleTo(host.get()) || !w->isVisible()) continue;
      const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
      const bool control = text || qobject_cast<QAbstractSlider*>(w) || qobject_cast<QLineEdit*>(w) ||
                           qobject_cast<QTableView*>(w) || qobject_cast<ui::CurveCanvas*>(w);
      if (!control) continue;
      // Parts of a table (its header, the placeholder over it) are the table's to show.
      bool inTable = false;
      for (QWidget* p = w->parentWidget(); p; p = p->parentWidget()) inTable |= qobject_cast<QTableView*>(p) != nullptr;
      if (inTable) continue;
      const QString name = w->accessibleName().isEmpty() ? QString::fromUtf8(w->metaObject()->className())
                                                         : w->accessibleName();
      const QRect r(w->mapTo(host.get(), QPoint(0, 0)), w->size());
      if (!window.contains(r)) {
        out.push_back(name.toStdString() + " outside the window");
        continue;
      }
      if (auto* l = qobject_cast<QLabel*>(w); l && l->wordWrap()) {
        if (l->heightForWidth(l->width()) > l->height() + 1) out.push_back(name.toStdString() + " cut at its foot");
      } else if (text && w->width() < w->sizeHint().width()) {
        out.push_back(name.toStdString() + " narrower than its text");
      } else if (text && w->height() < w->minimumSizeHint().height()) {
        out.push_back(name.toStdString() + " lower than its text");
      }
    }
    return out;
  }
  void saveShot(const char* name) {
    const QString folder = QStringLiteral(VELMORA_UI_ARTIFACTS);
    QDir().mkpath(folder);
    EXPECT_TRUE(host->grab().save(folder + QLatin1Char('/') + QLatin1String(name), "PNG"));
  }
  // Pixels of a graph frame near colour.
  static int pixelsNear(const QImage& img, const QColor& c, int tolerance) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const QColor p = img.pixelColor(x, y);
        if (std::abs(p.red() - c.red()) + std::abs(p.green() - c.green()) + std::abs(p.blue() - c.blue()) <= tolerance) ++n;
      }
    return n;
  }
  QImage paintGraph() {
    ui::CurveCanvas* canvas = view().curvePanel()->canvas();
    QImage img(canvas->size(), QImage::Format_ARGB32);
    QPainter p(&img);
    canvas->paintGraph(p);
    return img;
  }
};

TEST_F(WindowFit, EveryTabFitsALaptopScreenWithNothingCut) {
  ASSERT_NO_FATAL_FAILURE(openOnLaptopScreen());
  // Room to spare below 768 for the desktop's panel and the title bar.
  EXPECT_LE(host->minimumSizeHint().height(), 700) << "minimum " << host->minimumSizeHint().width() << "x"
                                                   << host->minimumSizeHint().height();
  EXPECT_LE(host->minimumSizeHint().width(), 1366);
  const char* shots[] = {"fit-speed-tab.png", "fit-apps-tab.png", "fit-other-tab.png"};
  for (int tab = 0; tab < 3; ++tab) {
    showTab(tab);
    auto cut = clipped();
    EXPECT_TRUE(cut.empty()) << "tab " << tab << ": " << ::testing::PrintToString(cut);
    saveShot(shots[tab]);
  }
  // The five favourites show whole: the graph gives way, not the table.
  showTab(0);
  host->resize(host->minimumSizeHint());
  settle();
  QTableView* favourites = view().favouriteTable();
  EXPECT_GE(favourites->viewport()->height(), 5 * favourites->verticalHeader()->defaultSectionSize());
  EXPECT_TRUE(clipped().empty()) << ::testing::PrintToString(clipped());
}

TEST_F(WindowFit, TheGraphGrowsWithTheWindowAndItsLabelsStayWhole) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  host->resize(1000, 640);
  settle();
  const VL260CurveView& graph = ui->controller().curveView();
  const double smallWidth = graph.viewWidth(), smallHeight = graph.viewHeight();
  host->resize(1366, 768);
  settle();
  EXPECT_GT(graph.viewWidth(), smallWidth);
  EXPECT_GT(graph.viewHeight(), smallHeight);
  // The view is the canvas less its label margins, and the curves were drawn for it: the
  // x axis reaches further at the same zoom.
  ui::CurveCanvas* canvas = view().curvePanel()->canvas();
  EXPECT_EQ(graph.viewWidth(), canvas->width() - ui::CurveCanvas::kLeftMargin - ui::CurveCanvas::kRightMargin);
  EXPECT_EQ(graph.viewHeight(), canvas->height() - ui::CurveCanvas::kTopMargin);
  EXPECT_GT(graph.model().graphWidth() * graph.model().scaleX(), kGraphPlotWidth);
  // The top row and the right column of the picture hold no label ink: the outermost labels
  // end inside the canvas's margins, not beyond its edge.
  const QImage img = paintGraph();
  const QColor base = canvas->palette().color(QPalette::Base);
  for (int x = 0; x < img.width(); ++x) EXPECT_EQ(img.pixelColor(x, 0), base) << "top edge at x " << x;
  for (int y = 0; y < img.height(); ++y) EXPECT_EQ(img.pixelColor(img.width() - 1, y), base) << "right edge at y " << y;
  // The zoom readouts say what they are.
  EXPECT_FALSE(view().curvePanel()->scaleXLabel()->accessibleName().isEmpty());
  bool captioned = false;
  for (QLabel* l : view().curvePanel()->findChildren<QLabel*>())
    captioned |= l->text() == QStringLiteral("Horizontal zoom") && l->isVisible();
  EXPECT_TRUE(captioned);
}

TEST_F(WindowFit, ASliderDragIsOneUndoStepNamedAfterItsField) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QS805CursorSpeedClass* cs = selected();
  const std::string before = *cs->trackingSpeed();
  QSlider* slider = view().trackingSlider();
  slider->setSliderDown(true);
  for (int v : {900, 1100, 1300, 1500}) {
    slider->setValue(v);
    settle();
  }
  slider->setSliderDown(false);
  settle();
  ASSERT_EQ(cs->trackingSpeed(), "2.25");
  ASSERT_TRUE(view().undoAction()->isEnabled());
  EXPECT_EQ(view().undoAction()->text(), QStringLiteral("Undo Tracking speed"));
  view().undoAction()->trigger();
  settle();
  EXPECT_EQ(cs->trackingSpeed(), before) << "one Undo takes back the whole drag";
  EXPECT_FALSE(view().undoAction()->isEnabled());
  EXPECT_EQ(view().redoAction()->text(), QStringLiteral("Redo Tracking speed"));
}

TEST_F(WindowFit, CtrlZInASpeedFieldUndoesTheStoresLastStep) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QS805CursorSpeedClass* cs = selected();
  typeInto(view().sensitivityField(), QStringLiteral("1000"));
  settle();
  ASSERT_EQ(cs->sensitivityDisplay(), "1000");
  EXPECT_EQ(view().undoAction()->text(), QStringLiteral("Undo Sensitivity"));
  ASSERT_TRUE(view().sensitivityField()->hasFocus());
  QTest::keyClick(view().sensitivityField(), Qt::Key_Z, Qt::ControlModifier);
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1600");
  EXPECT_EQ(view().sensitivityField()->text(), QStringLiteral("1600"));
  // While the user types, Ctrl+Z is the field's own: the store is left alone.
  view().sensitivityField()->setFocus();
  QTest::keyClicks(view().sensitivityField(), QStringLiteral("9"));
  QTest::keyClick(view().sensitivityField(), Qt::Key_Z, Qt::ControlModifier);
  settle();
  EXPECT_EQ(cs->sensitivityDisplay(), "1600");
  EXPECT_TRUE(view().redoAction()->isEnabled()) << "the store's redo step is still there";
}

TEST_F(WindowFit, CurvesAreToldApartNamedAsTheTableNamesThemAndHiddenWhenUnchecked) {
  ASSERT_NO_FATAL_FAILURE(openOnLaptopScreen());
  // No two favourites share a colour family: their hues lie at least 30 degrees apart.
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) {
      const int a = ui::toQColor(favouriteColour(i)).hsvHue(), b = ui::toQColor(favouriteColour(j)).hsvHue();
      const int d = std::min(std::abs(a - b), 360 - std::abs(a - b));
      EXPECT_GE(d, 30) << "favourites " << i + 1 << " and " << j + 1;
    }
  // The legend says what the favourites' table says.
  auto* model = view().favouriteTable()->model();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(view().curvePanel()->curveCheckbox(static_cast<size_t>(i))->text(),
              model->data(model->index(i, ui::FavouriteTableModel::LabelColumn)).toString());
  // Unchecking the selected favourite's curve takes it off the graph.
  const size_t focused = ui->controller().curveView().cursorSpeedIndex();
  ASSERT_LT(focused, kCurveRows);
  const QColor colour = ui::toQColor(favouriteColour(static_cast<int>(focused)));
  QCheckBox* box = view().curvePanel()->curveCheckbox(focused);
  if (!box->isChecked()) box->click();
  settle();
  EXPECT_GT(pixelsNear(paintGraph(), colour, 30), 50);
  box->click();
  settle();
  EXPECT_EQ(pixelsNear(paintGraph(), colour, 30), 0);
}

TEST_F(WindowFit, TheIndicatorMarksTheCurveAndFadesOnceTheDeviceStops) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  VL260CurveView& graph = ui->controller().curveView();
  graph.updateIndicatorByX(40, 0);
  const int32_t x = graph.indicatorValue();
  ASSERT_NE(x, 0);
  EXPECT_TRUE(curveHeightAt(graph.presetCurve(graph.cursorSpeedIndex()), x + 0.5).has_value());
  loop.advance(kIndicatorHoldSeconds * 0.8);
  EXPECT_EQ(graph.indicatorAlpha(), 1.0);
  graph.updateIndicatorByX(40, 0);  // it moves again: the hold starts anew
  loop.advance(kIndicatorHoldSeconds * 0.8);
  EXPECT_EQ(graph.indicatorAlpha(), 1.0);
  loop.advance(kIndicatorHoldSeconds * 0.2 + kIndicatorFadeSeconds / 2);
  EXPECT_GT(graph.indicatorAlpha(), 0.0);
  EXPECT_LT(graph.indicatorAlpha(), 1.0);
  EXPECT_NE(graph.indicatorValue(), 0);
  loop.advance(kIndicatorFadeSeconds);
  EXPECT_EQ(graph.indicatorValue(), 0) << "gone once faded";
}

TEST_F(WindowFit, EditorsFollowTheLockAndTheAccelerationSwitch) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QS805CursorSpeedClass* cs = selected();
  EXPECT_TRUE(view().trackingSlider()->isEnabled());
  view().disableAcclCheckbox()->click();
  settle();
  ASSERT_TRUE(cs->disableAccl());
  EXPECT_FALSE(view().trackingField()->isEnabled());
  EXPECT_FALSE(view().trackingSlider()->isEnabled());
  EXPECT_TRUE(view().sensitivityField()->isEnabled());
  view().disableAcclCheckbox()->click();
  settle();
  EXPECT_TRUE(view().trackingSlider()->isEnabled());

  cs->setIsLocked(true);
  settle();
  for (QWidget* w : std::initializer_list<QWidget*>{view().sensitivityField(), view().trackingField(),
                                                     view().sensitivitySlider(), view().trackingSlider(),
                                                     view().disableAcclCheckbox()})
    EXPECT_FALSE(w->isEnabled()) << w->accessibleName().toStdString() << " of a locked favourite";
  cs->setIsLocked(false);
  settle();
  EXPECT_TRUE(view().sensitivityField()->isEnabled());
}

TEST_F(WindowFit, AnOutOfRangeAlertNamesItsField) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  typeInto(view().trackingField(), QStringLiteral("25"));
  settle();
  auto sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_TRUE(sheets[0]->text().startsWith(QStringLiteral("Tracking speed"))) << sheets[0]->text().toStdString();
  view().endSheetAlert(kAlertFirstButtonReturn);
  settle();
  typeInto(view().trackingField(), QStringLiteral("1"));  // mended
  settle();
  ASSERT_TRUE(view().alertSheets().empty());
  typeInto(view().sensitivityField(), QStringLiteral("2500"));
  settle();
  sheets = view().alertSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_TRUE(sheets[0]->text().startsWith(QStringLiteral("Sensitivity"))) << sheets[0]->text().toStdString();
  view().endSheetAlert(kAlertFirstButtonReturn);
}

TEST_F(WindowFit, SecondaryWindowsOpenCentredAndCloseOnEscapeAndCtrlW) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QApplication::processEvents();
  // Centred over the main window, as far as the screen allows (the test's screen is smaller
  // than the host window).
  auto centredOverHost = [this](QWidget* w) {
    QRect expected(QPoint(0, 0), w->frameGeometry().size());
    expected.moveCenter(host->frameGeometry().center());
    const QRect screen = host->screen()->availableGeometry();
    expected.moveRight(std::min(expected.right(), screen.right()));
    expected.moveBottom(std::min(expected.bottom(), screen.bottom()));
    expected.moveLeft(std::max(expected.left(), screen.left()));
    expected.moveTop(std::max(expected.top(), screen.top()));
    const QPoint d = w->frameGeometry().topLeft() - expected.topLeft();
    return std::abs(d.x()) <= 2 && std::abs(d.y()) <= 2;
  };
  host->move(0, 0);
  host->resize(700, 560);  // smaller than the test's screen: the windows sit over its middle
  QApplication::processEvents();

  ui::LogWindow* log = view().logWindow();
  ASSERT_NE(log, nullptr);
  log->show();
  QApplication::processEvents();
  EXPECT_TRUE(centredOverHost(log));
  QTest::keyClick(log, Qt::Key_W, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(log->isVisible()) << "Ctrl+W";
  log->show();
  QApplication::processEvents();
  QTest::keyClick(log, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(log->isVisible()) << "Escape";

  // The recommended-settings window has no parent of its own: it is one of the pane's all the same.
  EXPECT_TRUE(mac.defaults().setValue("quillon.Velmora.prefpane", kShareSettingsKey, pl::Value(true)).ok());
  QTest::mouseClick(view().recommendButton(), Qt::LeftButton);
  QApplication::processEvents();
  auto* recd = dynamic_cast<ui::RecommendedWindow*>(ui->controller().recommendedWindow().view());
  ASSERT_NE(recd, nullptr);
  ASSERT_TRUE(recd->isVisible());
  EXPECT_TRUE(centredOverHost(recd));
  ASSERT_NE(recd->closeButton(), nullptr);
  QTest::keyClick(recd, Qt::Key_W, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(recd->isVisible()) << "Ctrl+W";
  recd->showWindow();
  QApplication::processEvents();
  QTest::keyClick(recd, Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_FALSE(recd->isVisible()) << "Escape";
}

TEST_F(WindowFit, StartUpSaysDevicesAreBeingFoundAndWaitsForOne) {
  open();
  QLabel* placeholder = view().devicePlaceholder();
  EXPECT_TRUE(placeholder->isVisible());
  EXPECT_TRUE(placeholder->text().startsWith(QStringLiteral("Looking for"))) << placeholder->text().toStdString();
  EXPECT_FALSE(view().recommendButton()->isEnabled());
  EXPECT_FALSE(view().favouriteTable()->isEnabled());
  EXPECT_FALSE(view().sensitivityField()->isEnabled());
  loop.advance(ui::kDeviceSearchSeconds + 0.1);
  QApplication::processEvents();
  EXPECT_TRUE(placeholder->text().startsWith(QStringLiteral("No pointing device"))) << placeholder->text().toStdString();

  attach("generic-usb-optical-mouse");
  loop.advance(2.5);  // the standby time of a device arriving after the pane's
  QApplication::processEvents();
  ASSERT_EQ(ui->controller().deviceList().count(), 1u);
  EXPECT_FALSE(placeholder->isVisible());
  EXPECT_TRUE(view().recommendButton()->isEnabled());
  EXPECT_TRUE(view().sensitivityField()->isEnabled());
}

}  // namespace
}  // namespace vl
