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
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CurveCanvas::setCurveView(CurveView* view) {
  view_ = view;
  fitView();
  updateGeometry();
  update();
}

QSize CurveCanvas::sizeHint() const {
  return QSize(static_cast<int>(kGraphOriginX + kGraphPlotWidth) + kLeftMargin + kRightMargin,
               static_cast<int>(kGraphOriginY + kGraphPlotHeight) + kTopMargin);
}

QSize CurveCanvas::minimumSizeHint() const {
  return QSize(static_cast<int>(kGraphOriginX + kGraphMinPlotWidth) + kLeftMargin + kRightMargin,
               static_cast<int>(kGraphOriginY + kGraphMinPlotHeight) + kTopMargin);
}

void CurveCanvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  fitView();
}

void CurveCanvas::fitView() {
  if (!view_) return;
  view_->setViewSize(width() - kLeftMargin - kRightMargin, height() - kTopMargin);
}

void CurveCanvas::paintGraph(QPainter& painter) const {
  painter.fillRect(rect(), palette().color(QPalette::Base));
  painter.save();
  painter.translate(viewOffset());
  const double viewHeight = view_ ? view_->viewHeight() : height() - kTopMargin;
  {
    QtDrawingSurface surface(painter, viewHeight);
    if (view_) {
      view_->drawRect(surface);
    } else {
      surface.frameRect({kGraphOriginX, kGraphOriginY, width() - kLeftMargin - kRightMargin - kGraphOriginX,
                         viewHeight - kGraphOriginY},
                        kGraphFrameColour, 1);
    }
  }
  painter.restore();
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
  // The readouts say what they are: a bare "1.0" beside two buttons reads as nothing.
  auto* captionX = new QLabel(texts.scaleXShort, this);
  captionX->setAccessibleName(texts.scaleXShort);
  captionX->setFont(smallSystemFont());
  auto* captionY = new QLabel(texts.scaleYShort, this);
  captionY->setAccessibleName(texts.scaleYShort);
  captionY->setFont(smallSystemFont());
  captionY->setAlignment(Qt::AlignCenter);
  captionX->setBuddy(xUp_);
  captionY->setBuddy(yUp_);
  for (QLabel* l : {scaleX_, scaleY_}) {
    l->setMinimumWidth(QFontMetrics(l->font()).horizontalAdvance(QStringLiteral("00.0")) + 4);
    l->setAlignment(Qt::AlignCenter);
  }

  auto* yTitle = new RotatedLabel(texts.yTitle, this);
  auto* xTitle = new QLabel(texts.xTitle, this);
  xTitle->setFont(smallSystemFont());
  xTitle->setAlignment(Qt::AlignCenter);

  auto* yZoom = new QVBoxLayout;
  yZoom->addWidget(captionY, 0, Qt::AlignHCenter);
  yZoom->addWidget(yUp_, 0, Qt::AlignHCenter);
  yZoom->addWidget(scaleY_, 0, Qt::AlignHCenter);
  yZoom->addWidget(yDown_, 0, Qt::AlignHCenter);
  yZoom->addStretch();
  auto* xZoom = new QHBoxLayout;
  xZoom->addStretch();
  xZoom->addWidget(captionX);
  xZoom->addWidget(xDown_);
  xZoom->addWidget(scaleX_);
  xZoom->addWidget(xUp_);

  // The legend: one check box per favourite, named as the favourites' table names them.
  curveText_ = texts.curve;
  auto* checks = new QGridLayout;
  checks->setHorizontalSpacing(16);
  checks->setVerticalSpacing(2);
  for (size_t i = 0; i < kCurveRows; ++i) {
    auto* box = new QCheckBox(texts.curve.arg(i + 1), this);
    box->setAccessibleName(box->text());
    connect(box, &QCheckBox::clicked, this, [this, i] {
      if (view_) view_->clickCurveVisibleCheckbox(i);
      refresh();
    });
    boxes_[i] = box;
    checks->addWidget(box, static_cast<int>(i / 3), static_cast<int>(i % 3));
  }
  checks->setColumnStretch(3, 1);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(yTitle, 0, 0);
  grid->addWidget(canvas_, 0, 1);
  grid->setRowStretch(0, 1);
  grid->setColumnStretch(1, 1);
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

void CurveGraphPanel::setCurveTitles(const std::array<QString, kCurveRows>& titles) {
  for (size_t i = 0; i < kCurveRows; ++i) {
    const QString text = titles[i].trimmed().isEmpty() ? curveText_.arg(i + 1) : titles[i];
    if (boxes_[i]->text() == text) continue;
    boxes_[i]->setText(text);
    boxes_[i]->setAccessibleName(text);
  }
}

void CurveGraphPanel::setCurveView(CurveView* view) {
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
