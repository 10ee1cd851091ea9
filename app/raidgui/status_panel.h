// One panel of the main window's status bar: a framed text of a fixed
// width. A text longer than the panel is shown cut short with "..." and
// whole in the panel's tooltip; text() is always the whole text.
#pragma once

#include <QLabel>
#include <QStringList>

namespace raid {

class StatusPanel : public QLabel {
 public:
  StatusPanel(QWidget* parent, const QString& objectName);
  // Sets the text and the tooltip that carries it when it does not fit.
  void SetFullText(const QString& text);
  // Whether the text is shown cut short.
  bool Elided() const;
  // The width that shows each of these texts whole.
  int WidthFor(const QStringList& texts) const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  QString Shown() const;
  void UpdateTip();
};

}  // namespace raid
