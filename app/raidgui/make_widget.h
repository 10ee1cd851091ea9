// Widgets of the forms are made one way: a widget of type W built from
// `args` (its text, say) on `parent`, with the objectName the tests and the
// accessibility tools find it by, at its place on the parent.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <utility>

namespace raid {

template <class W, class... Args>
W* MakeWidget(QWidget* parent, const QString& objectName, const QRect& geometry, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)..., parent);
  w->setObjectName(objectName);
  w->setGeometry(geometry);
  return w;
}

}  // namespace raid
