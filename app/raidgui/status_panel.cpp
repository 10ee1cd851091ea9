#include "app/raidgui/status_panel.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

#include "app/raidgui/make_widget.h"

namespace raid {

namespace {
constexpr int kIndent = 4;
}

StatusPanel::StatusPanel(QWidget* parent, const QString& objectName) : QLabel(parent) {
  setObjectName(objectName);
  MakePlain(this);
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);
}

QString StatusPanel::Shown() const {
  return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width() - 2 * kIndent);
}

bool StatusPanel::Elided() const { return Shown() != text(); }

int StatusPanel::WidthFor(const QStringList& texts) const {
  int widest = 0;
  for (const QString& t : texts) widest = std::max(widest, fontMetrics().horizontalAdvance(t));
  // The text's room is the contents less the indent on both sides.
  return widest + 2 * kIndent + width() - contentsRect().width();
}

void StatusPanel::UpdateTip() { setToolTip(Elided() ? PlainToolTip(text()) : QString()); }

void StatusPanel::SetFullText(const QString& t) {
  setText(t);
  UpdateTip();
}

void StatusPanel::paintEvent(QPaintEvent* e) {
  QFrame::paintEvent(e);  // the frame alone
  QPainter g(this);
  g.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  g.drawText(contentsRect().adjusted(kIndent, 0, -kIndent, 0), Qt::AlignVCenter | Qt::AlignLeft, Shown());
}

void StatusPanel::resizeEvent(QResizeEvent* e) {
  QLabel::resizeEvent(e);
  UpdateTip();
}

}  // namespace raid
