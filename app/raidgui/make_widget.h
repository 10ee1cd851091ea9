// Widgets of the forms are made one way: a widget of type W built from
// `args` (its text, say) on `parent`, with the objectName the tests and the
// accessibility tools find it by, at its place on the parent.
#pragma once

#include <QLabel>
#include <QRect>
#include <QString>
#include <QTextDocument>
#include <QWidget>
#include <type_traits>
#include <utility>

namespace raid {

// Labels show their text as it is: a drive model or a file name that looks
// like markup ("<h1>", "<img src=...>") is never drawn as a heading or a
// picture.
inline void MakePlain(QLabel* label) { label->setTextFormat(Qt::PlainText); }

template <class W, class... Args>
W* MakeWidget(QWidget* parent, const QString& objectName, const QRect& geometry, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)..., parent);
  w->setObjectName(objectName);
  w->setGeometry(geometry);
  if constexpr (std::is_base_of_v<QLabel, W>) MakePlain(w);
  return w;
}

// A tooltip shows the text as it is too: Qt takes a tooltip that looks like
// markup for markup, so such a text is handed over escaped.
inline QString PlainToolTip(const QString& text) {
  return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

// The title bar of the program's dialogs (the event log window, "Make Bin",
// the message boxes): a close button only. They are modal, so a minimised
// one would leave the main window blocked with nothing to show why, and they
// have a fixed size, so there is nothing to maximise.
constexpr Qt::WindowFlags kCloseOnlyDialog = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                             Qt::MSWindowsFixedSizeDialogHint;

}  // namespace raid
