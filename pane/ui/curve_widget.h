// The speed tab's curve graph in Qt: the canvas that paints CurveView through a QPainter,
// the zoom buttons with their "%.1f" labels, the five curve check boxes and the rotated y title.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <QResizeEvent>
#include <array>
#include <functional>
#include <optional>

#include "pane/graph/curve_view.h"

namespace vl::ui {

// Paints the graph. It grows with the window (the view follows its size) and shrinks to a
// small plot; a margin around the view keeps the outermost tick labels whole.
class CurveCanvas : public QWidget {
  Q_OBJECT
 public:
  // Room around the view for labels that stand out of it (the top y and last x labels, and
  // wide y labels at small vertical scales).
  static constexpr int kLeftMargin = 14, kTopMargin = 8, kRightMargin = 16;

  explicit CurveCanvas(QWidget* parent = nullptr);
  // The view to paint and resize; null paints the empty frame only.
  void setCurveView(CurveView* view);
  const CurveView* curveView() const { return view_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Where the view's origin (its bottom-left corner) lies in the widget.
  QPoint viewOffset() const { return QPoint(kLeftMargin, kTopMargin); }
  // One frame into painter (what paintEvent does), for benchmarks and screenshots.
  void paintGraph(QPainter& painter) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fitView();
  CurveView* view_ = nullptr;
};

// Text drawn turned by 90° (reading upwards), for the y axis title.
class RotatedLabel : public QWidget {
  Q_OBJECT
 public:
  explicit RotatedLabel(const QString& text, QWidget* parent = nullptr);
  QString text() const { return text_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

// Texts the panel shows (from the "vl" strings table).
struct CurvePanelTexts {
  QString yTitle, xTitle;
  QString zoomXIn, zoomXOut, zoomYIn, zoomYOut;
  QString scaleX, scaleY;  // accessible names of the zoom labels
  QString scaleXShort, scaleYShort;  // the visible captions of the zoom readouts
  QString curve;           // "Curve %1"
};

class CurveGraphPanel : public QWidget {
  Q_OBJECT
 public:
  // shiftHeld: whether Shift is held at a zoom click (both axes zoom together then).
  CurveGraphPanel(const CurvePanelTexts& texts, std::function<bool()> shiftHeld, QWidget* parent = nullptr);

  // The view the controls act on; null disables them.
  void setCurveView(CurveView* view);
  CurveView* curveView() const { return view_; }
  // Reads the labels, check boxes and colours from the view again and schedules a repaint
  // (never paints at once, so a slider drag repaints at the display's rate).
  void refresh();

  CurveCanvas* canvas() const { return canvas_; }
  QToolButton* zoomButton(ZoomSender sender) const;
  QLabel* scaleXLabel() const { return scaleX_; }
  QLabel* scaleYLabel() const { return scaleY_; }
  QCheckBox* curveCheckbox(size_t row) const { return boxes_[row]; }
  // The favourites' titles as their table shows them; a row without one keeps "Curve n".
  void setCurveTitles(const std::array<QString, kCurveRows>& titles);

 private:
  void zoom(ZoomSender sender);

  CurveView* view_ = nullptr;
  std::function<bool()> shiftHeld_;
  CurveCanvas* canvas_;
  QToolButton *xUp_, *xDown_, *yUp_, *yDown_;
  QLabel *scaleX_, *scaleY_;
  std::array<QCheckBox*, kCurveRows> boxes_{};
  QString curveText_;
  // The colours the check boxes' swatches show, so a refresh makes no new icon when none changed.
  std::array<std::optional<Rgba>, kCurveRows> swatches_{};
};

// "1.5" (the model's locale-independent text) as the user's locale writes it ("1,5").
QString localeNumberText(const std::string& text);

}  // namespace vl::ui
