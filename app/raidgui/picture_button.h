// A clickable picture that behaves as a real button: it takes the keyboard
// focus, answers Space and Enter, has an accessible name, and optionally
// sinks 2 pixels while the mouse button holds it.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

namespace raid {

class PictureButton : public QAbstractButton {
  Q_OBJECT
 public:
  PictureButton(QWidget* parent, const QString& objectName, const QString& accessibleName);
  void setPicture(const QPixmap& p);
  const QPixmap& picture() const { return picture_; }
  // Move 2 pixels down while pressed by the mouse.
  void setPressedEffect(bool on) { pressedEffect_ = on; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  QPixmap picture_;
  bool pressedEffect_ = false;
  bool sunk_ = false;
};

// A hidden picture store: holds the selected (_Yellow) or unselected
// (_White) picture of a button.
QLabel* MakePictureStore(QWidget* parent, const QString& objectName, const QPixmap& picture, const QRect& geometry);

// A push button drawn as the program's labelled button picture, sinking
// while pressed. caption: the text on the picture (the accessible name when
// empty).
PictureButton* MakeLabelledButton(QWidget* parent, const QString& objectName, const QString& accessibleName,
                                  const QRect& geometry, qreal dpr, const QString& caption = {});

}  // namespace raid
