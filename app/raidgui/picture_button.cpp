#include "app/raidgui/picture_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "app/raidgui/artwork.h"
#include "app/raidgui/make_widget.h"

namespace raid {

PictureButton::PictureButton(QWidget* parent, const QString& objectName, const QString& accessibleName)
    : QAbstractButton(parent) {
  setObjectName(objectName);
  setAccessibleName(accessibleName);
  setText(accessibleName);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  // Repainted when the mouse comes and goes, for the hover highlight.
  setAttribute(Qt::WA_Hover);
}

void PictureButton::setPicture(const QPixmap& p) {
  picture_ = p;
  update();
}

QSize PictureButton::sizeHint() const {
  return picture_.isNull() ? QSize(80, 24) : picture_.deviceIndependentSize().toSize();
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter g(this);
  if (!isEnabled()) g.setOpacity(0.45);
  g.drawPixmap(rect(), picture_);
  if (isEnabled() && underMouse() && !isDown()) {
    // Hover: a light wash and a blue edge say the picture can be clicked.
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0x1F, 0x5F, 0xBF, 170), 1.5));
    g.setBrush(QColor(255, 255, 255, 60));
    g.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 7, 7);
  }
  if (hasFocus()) {
    g.setOpacity(1.0);
    QPen pen(QColor(0x1F, 0x5F, 0xBF), 1, Qt::DotLine);
    g.setPen(pen);
    g.setBrush(Qt::NoBrush);
    g.drawRoundedRect(rect().adjusted(2, 2, -3, -3), 5, 5);
  }
}

void PictureButton::mousePressEvent(QMouseEvent* e) {
  if (pressedEffect_ && e->button() == Qt::LeftButton && !sunk_) {
    move(x(), y() + 2);
    sunk_ = true;
  }
  QAbstractButton::mousePressEvent(e);
}

void PictureButton::mouseReleaseEvent(QMouseEvent* e) {
  if (sunk_ && e->button() == Qt::LeftButton) {
    move(x(), y() - 2);
    sunk_ = false;
  }
  QAbstractButton::mouseReleaseEvent(e);
}

void PictureButton::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    animateClick();
    return;
  }
  QAbstractButton::keyPressEvent(e);
}

QLabel* MakePictureStore(QWidget* parent, const QString& objectName, const QPixmap& picture, const QRect& geometry) {
  auto* l = new QLabel(parent);
  MakePlain(l);
  l->setObjectName(objectName);
  l->setPixmap(picture);
  l->setGeometry(geometry);
  l->hide();
  return l;
}

PictureButton* MakeLabelledButton(QWidget* parent, const QString& objectName, const QString& accessibleName,
                                  const QRect& geometry, qreal dpr, const QString& caption) {
  auto* b = new PictureButton(parent, objectName, accessibleName);
  b->setGeometry(geometry);
  b->setPicture(
      art::ButtonPicture(caption.isEmpty() ? accessibleName : caption, geometry.width(), geometry.height(), dpr));
  b->setPressedEffect(true);
  return b;
}

}  // namespace raid
