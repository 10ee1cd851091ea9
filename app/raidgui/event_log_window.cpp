#include "app/raidgui/event_log_window.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "app/raidgui/make_widget.h"
#include "app/raidgui/message_box.h"
#include "app/common/text.h"

namespace raid {

namespace {
QString Text(const std::string& s) { return ToQt(s); }
}  // namespace

std::function<std::string(QWidget*, const std::string&)>& EventLogWindow::FileChooser() {
  static std::function<std::string(QWidget*, const std::string&)> chooser = [](QWidget* parent,
                                                                               const std::string& folder) {
    return FromQt(
        QFileDialog::getOpenFileName(parent, "View Log File", ToQt(folder), "Log File (*.log);;All File (*)"));
  };
  return chooser;
}

EventLogWindow::EventLogWindow(RaidCore& core, QWidget* parent, const std::vector<std::string>* dayLog)
    : QDialog(parent), core_(core), model_(dayLog ? *dayLog : core.Log().DayLog(), core.Devices().RequestBits) {
  setObjectName("Form5");
  setWindowTitle("Event Log");
  setWindowFlags(kCloseOnlyDialog);
  setFixedSize(465, 273);
  logText_ = new QPlainTextEdit(this);
  logText_->setObjectName("Memo1");
  logText_->setGeometry(0, 0, 465, 241);
  logText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Lines that do not fit wrap; there is no sideways scrolling.
  logText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  logText_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  logText_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  QFont f("System");
  f.setStyleHint(QFont::TypeWriter);
  f.setBold(true);
  logText_->setFont(f);
  realTimeButton_ = MakeWidget<QPushButton>(this, "Button1", QRect(96, 240, 83, 33), "Real Time Log");
  viewFileButton_ = MakeWidget<QPushButton>(this, "Button2", QRect(272, 240, 81, 33), "View Log File");
  // A caption wider than its button in the font at hand widens the button
  // about its centre, so it shows whole.
  for (QPushButton* b : {realTimeButton_, viewFileButton_}) {
    const int w = std::max(b->width(), b->sizeHint().width());
    b->setGeometry(b->geometry().center().x() - w / 2, b->y(), w, b->height());
  }
  connect(realTimeButton_, &QPushButton::clicked, this, &EventLogWindow::RealTimeLogClick);
  connect(viewFileButton_, &QPushButton::clicked, this, &EventLogWindow::ViewLogFileClick);
  followTimer_.setObjectName("Timer1");
  followTimer_.setInterval(1000);
  connect(&followTimer_, &QTimer::timeout, this, &EventLogWindow::OnFollowTimer);
  model_.Open();
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

void EventLogWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  model_.Show();
  Render();
  followTimer_.start();
}

QString EventLogWindow::Shown(const std::string& line) const {
  if (line.empty() || line.find_first_not_of('-') != std::string::npos) return Text(line);
  const QFontMetrics fm(logText_->font());
  const int room =
      logText_->viewport()->width() - 2 * static_cast<int>(std::ceil(logText_->document()->documentMargin())) - 4;
  int fit = static_cast<int>(line.size());
  while (fit > 1 && fm.horizontalAdvance(QString(fit, '-')) > room) --fit;
  return QString(fit, '-');
}

void EventLogWindow::Render() {
  setWindowTitle(Text(model_.Caption));
  QPalette p = logText_->palette();
  p.setColor(QPalette::Text, model_.Grey ? palette().color(QPalette::Disabled, QPalette::Text)
                                         : palette().color(QPalette::Active, QPalette::WindowText));
  logText_->setPalette(p);
  // The log view follows the end as new lines come, as long as the user has not
  // scrolled up to read something; it opens at the end.
  QScrollBar* bar = logText_->verticalScrollBar();
  const bool follow = renderedResets_ == ~0ull || bar->value() >= bar->maximum();
  const bool changed = renderedResets_ != model_.LineResets || renderedLines_ != model_.Lines.size();
  if (renderedResets_ != model_.LineResets || renderedLines_ > model_.Lines.size()) {
    QStringList all;
    for (const auto& l : model_.Lines) all << Shown(l);
    logText_->setPlainText(all.join('\n'));
    renderedResets_ = model_.LineResets;
  } else {
    for (size_t i = renderedLines_; i < model_.Lines.size(); ++i) logText_->appendPlainText(Shown(model_.Lines[i]));
  }
  renderedLines_ = model_.Lines.size();
  if (changed && follow) bar->setValue(bar->maximum());
  if (!model_.TimerEnabled) followTimer_.stop();
}

void EventLogWindow::OnFollowTimer() {
  model_.OnFollowTimer();
  Render();
}

void EventLogWindow::RealTimeLogClick() {
  model_.ShowRealTime();
  Render();
  followTimer_.start();
}

void EventLogWindow::ViewLogFileClick() {
  followTimer_.stop();
  const Outcome viewed = model_.ViewLogFile([this] { return FileChooser()(this, core_.Log().LogDir()); });
  if (!viewed)
    ShowMessageBox(this,
                   {"The log file cannot be read:\n" + viewed.error(), "Event Log", BoxIcon::Warning, BoxButtons::Ok});
  Render();
}

GoToWindow::GoToWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("Form3");
  setWindowTitle("GoTo");
}

EmailWindow::EmailWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("Form7");
  setWindowTitle("E-Mail");
}

}  // namespace raid
