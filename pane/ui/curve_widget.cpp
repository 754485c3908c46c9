// The curve graph's widgets.
#include "pane/ui/curve_widget.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "core/plist/number_text.h"
#include "pane/ui/qt_drawing_surface.h"

namespace vl::ui {

QString localeNumberText(const std::string& text) {
  auto v = pl::parseDecimal(text);
  if (!v) return QString::fromStdString(text);
  // As many decimals as the stored text has, so "1.0" stays "1,0" and not "1".
  auto dot = text.find('.');
  int decimals = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
  return QLocale().toString(*v, 'f', decimals);
}

// --- CurveCanvas ----------------------------------------------------------------------------

CurveCanvas::CurveCanvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CurveCanvas::setCurveView(const VL260CurveView* view) {
  view_ = view;
  updateGeometry();
  update();
}

QSize CurveCanvas::sizeHint() const {
  if (!view_) return QSize(static_cast<int>(kGraphOriginX + kGraphPlotWidth), static_cast<int>(kGraphOriginY + kGraphPlotHeight));
  return QSize(static_cast<int>(view_->viewWidth()), static_cast<int>(view_->viewHeight()));
}

void CurveCanvas::paintGraph(QPainter& painter) const {
  const QSize size = sizeHint();
  painter.fillRect(QRect(QPoint(0, 0), size), palette().color(QPalette::Base));
  QtDrawingSurface surface(painter, size.height());
  if (view_) {
    view_->drawRect(surface);
  } else {
    surface.frameRect({kGraphOriginX, kGraphOriginY, kGraphPlotWidth, kGraphPlotHeight}, kGraphFrameColour, 1);
  }
}

void CurveCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintGraph(painter);
}

// --- RotatedLabel ---------------------------------------------------------------------------

RotatedLabel::RotatedLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  setAccessibleName(text);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

QSize RotatedLabel::sizeHint() const {
  QFontMetrics m(smallSystemFont());
  return QSize(m.height() + 2, m.horizontalAdvance(text_) + 4);
}

void RotatedLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(smallSystemFont());
  p.setPen(palette().color(QPalette::WindowText));
  p.translate(0, height());
  p.rotate(-90);
  p.drawText(QRect(0, 0, height(), width()), Qt::AlignCenter, text_);
}

// --- CurveGraphPanel ------------------------------------------------------------------------

namespace {
QToolButton* zoomButton(const QString& text, const QString& name, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setText(text);
  b->setAccessibleName(name);
  b->setToolTip(name);
  b->setAutoRaise(false);
  return b;
}

QIcon swatch(const Rgba& c) {
  QPixmap pm(10, 10);
  Rgba opaque = c;
  if (opaque.a > 0) opaque.a = 1;
  pm.fill(opaque.a > 0 ? toQColor(opaque) : QColor(Qt::transparent));
  return QIcon(pm);
}
}  // namespace

CurveGraphPanel::CurveGraphPanel(const CurvePanelTexts& texts, std::function<bool()> shiftHeld, QWidget* parent)
    : QWidget(parent), shiftHeld_(std::move(shiftHeld)) {
  canvas_ = new CurveCanvas(this);
  canvas_->setAccessibleName(texts.xTitle);
  xUp_ = ui::zoomButton(QStringLiteral("+"), texts.zoomXIn, this);
  xDown_ = ui::zoomButton(QStringLiteral("\u2212"), texts.zoomXOut, this);
  yUp_ = ui::zoomButton(QStringLiteral("+"), texts.zoomYIn, this);
  yDown_ = ui::zoomButton(QStringLiteral("\u2212"), texts.zoomYOut, this);
  scaleX_ = new QLabel(this);
  scaleX_->setAccessibleName(texts.scaleX);
  scaleY_ = new QLabel(this);
  scaleY_->setAccessibleName(texts.scaleY);
  for (QLabel* l : {scaleX_, scaleY_}) {
    l->setMinimumWidth(QFontMetrics(l->font()).horizontalAdvance(QStringLiteral("00.0")) + 4);
    l->setAlignment(Qt::AlignCenter);
  }

  auto* yTitle = new RotatedLabel(texts.yTitle, this);
  auto* xTitle = new QLabel(texts.xTitle, this);
  xTitle->setFont(smallSystemFont());
  xTitle->setAlignment(Qt::AlignCenter);

  auto* yZoom = new QVBoxLayout;
  yZoom->addWidget(yUp_);
  yZoom->addWidget(scaleY_);
  yZoom->addWidget(yDown_);
  yZoom->addStretch();
  auto* xZoom = new QHBoxLayout;
  xZoom->addStretch();
  xZoom->addWidget(xDown_);
  xZoom->addWidget(scaleX_);
  xZoom->addWidget(xUp_);

  auto* checks = new QHBoxLayout;
  for (size_t i = 0; i < kCurveRows; ++i) {
    auto* box = new QCheckBox(texts.curve.arg(i + 1), this);
    box->setAccessibleName(box->text());
    connect(box, &QCheckBox::clicked, this, [this, i] {
      if (view_) view_->clickCurveVisibleCheckbox(i);
      refresh();
    });
    boxes_[i] = box;
    checks->addWidget(box);
  }
  checks->addStretch();

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(yTitle, 0, 0);
  grid->addWidget(canvas_, 0, 1);
  grid->addLayout(yZoom, 0, 2);
  grid->addWidget(xTitle, 1, 1);
  grid->addLayout(xZoom, 2, 1);
  grid->addLayout(checks, 3, 1);

  connect(xUp_, &QToolButton::clicked, this, [this] { zoom(ZoomSender::XUp); });
  connect(xDown_, &QToolButton::clicked, this, [this] { zoom(ZoomSender::XDown); });
  connect(yUp_, &QToolButton::clicked, this, [this] { zoom(ZoomSender::YUp); });
  connect(yDown_, &QToolButton::clicked, this, [this] { zoom(ZoomSender::YDown); });
  refresh();
}

QToolButton* CurveGraphPanel::zoomButton(ZoomSender sender) const {
  switch (sender) {
    case ZoomSender::XUp: return xUp_;
    case ZoomSender::XDown: return xDown_;
    case ZoomSender::YUp: return yUp_;
    case ZoomSender::YDown: return yDown_;
    default: return nullptr;
  }
}

void CurveGraphPanel::setCurveView(VL260CurveView* view) {
  view_ = view;
  canvas_->setCurveView(view);
  refresh();
}

void CurveGraphPanel::zoom(ZoomSender sender) {
  if (!view_) return;
  view_->setViewScaleBy(sender, shiftHeld_ && shiftHeld_());
  refresh();
}

void CurveGraphPanel::refresh() {
  const bool on = view_ != nullptr;
  for (QToolButton* b : {xUp_, xDown_, yUp_, yDown_}) b->setEnabled(on);
  scaleX_->setText(on ? localeNumberText(view_->scaleXLabel()) : QString());
  scaleY_->setText(on ? localeNumberText(view_->scaleYLabel()) : QString());
  for (size_t i = 0; i < kCurveRows; ++i) {
    QCheckBox* box = boxes_[i];
    box->setEnabled(on);
    const bool checked = on && view_->curveVisibleCheckbox(i);
    if (box->isChecked() != checked) box->setChecked(checked);
    const Rgba colour = on ? view_->presetCurveColor(i) : kClearColour;
    if (swatches_[i] != colour) {
      box->setIcon(swatch(colour));
      swatches_[i] = colour;
    }
  }
  canvas_->update();
}

}  // namespace vl::ui
