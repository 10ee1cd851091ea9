#include "app/raidgui/event_log_window.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include "app/raidgui/message_box.h"

namespace raid {

namespace {
QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }
}  // namespace

std::function<std::string(QWidget*)>& TForm5::FileChooser() {
  static std::function<std::string(QWidget*)> chooser = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, "View Log File", QString(), "Log File (*.log);;All File (*)")
        .toStdString();
  };
  return chooser;
}

TForm5::TForm5(RaidCore& core, QWidget* parent)
    : QDialog(parent), core_(core), model_(core.log.DayLog, core.st.RequestBits) {
  setObjectName("Form5");
  setWindowTitle("Event Log");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(465, 273);
  memo1_ = new QPlainTextEdit(this);
  memo1_->setObjectName("Memo1");
  memo1_->setGeometry(0, 0, 465, 241);
  memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont f("System");
  f.setStyleHint(QFont::TypeWriter);
  f.setBold(true);
  memo1_->setFont(f);
  button1_ = new QPushButton("Real Time Log", this);
  button1_->setObjectName("Button1");
  button1_->setGeometry(96, 240, 83, 33);
  button2_ = new QPushButton("View Log File", this);
  button2_->setObjectName("Button2");
  button2_->setGeometry(272, 240, 81, 33);
  connect(button1_, &QPushButton::clicked, this, &TForm5::Button1Click);
  connect(button2_, &QPushButton::clicked, this, &TForm5::Button2Click);
  timer1_.setObjectName("Timer1");
  timer1_.setInterval(1000);
  connect(&timer1_, &QTimer::timeout, this, &TForm5::Timer1Timer);
  model_.FormCreate();
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

void TForm5::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  model_.FormShow();
  Render();
  timer1_.start();
}

void TForm5::Render() {
  setWindowTitle(Text(model_.Caption));
  QPalette p = memo1_->palette();
  p.setColor(QPalette::Text, model_.Grey ? palette().color(QPalette::Disabled, QPalette::Text)
                                         : palette().color(QPalette::Active, QPalette::WindowText));
  memo1_->setPalette(p);
  if (renderedResets_ != model_.MemoResets || renderedLines_ > model_.Memo.size()) {
    QStringList all;
    for (const auto& l : model_.Memo) all << Text(l);
    memo1_->setPlainText(all.join('\n'));
    renderedResets_ = model_.MemoResets;
  } else {
    for (size_t i = renderedLines_; i < model_.Memo.size(); ++i) memo1_->appendPlainText(Text(model_.Memo[i]));
  }
  renderedLines_ = model_.Memo.size();
  if (!model_.TimerEnabled) timer1_.stop();
}

void TForm5::Timer1Timer() {
  model_.Timer1Timer();
  Render();
}

void TForm5::Button1Click() {
  model_.Button1Click();
  Render();
  timer1_.start();
}

void TForm5::Button2Click() {
  timer1_.stop();
  model_.Button2Click([this] { return FileChooser()(this); });
  if (!model_.Error.empty())
    ShowMessageBox(this, {"The log file cannot be read:\n" + model_.Error, "Event Log", BoxIcon::Warning, BoxButtons::Ok});
  Render();
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName("Form3");
  setWindowTitle("GoTo");
}

TForm7::TForm7(QWidget* parent) : QDialog(parent) {
  setObjectName("Form7");
  setWindowTitle("E-Mail");
}

}  // namespace raid
