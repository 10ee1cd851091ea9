// The E-mail page of the main window: draws the page model (notify/
// mail_page.h) and forwards every edit, click and selection to it. Three
// sub-pages behind tab pictures, OK and Ignore, and "Send test mail".
#pragma once

#include <functional>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QWidget>
#include <array>

#include "app/raidgui/picture_button.h"
#include "notify/mail_page.h"
#include "notify/notifier.h"

namespace raid {

class EmailPage : public QObject {
  Q_OBJECT
 public:
  EmailPage(QWidget* page, MailPage& model, MailNotifier& notifier, UserInterface& ui, qreal dpr);

  // The E-mail page is entered: the fields from memory, the current
  // sub-page shown.
  void Enter();
  void OkClick();
  void IgnoreClick();
  void SendTestMailClick();
  // Draws the model into the controls (their change signals held back).
  void Redraw();
  // Set while the window shows the monitor service: entering (and Ignore),
  // OK and "Send test mail" go there instead of to this program's store.
  std::function<void()> EnterOverride, OkOverride, TestMailOverride;

 private:
  void SelectSubPage(int page);
  void RedrawTabs();
  QWidget* MakeSubPage(int index);
  void BuildSetup(QWidget* w);
  void BuildRecipients(QWidget* w, int sub);

  MailPage& model_;
  MailNotifier& notifier_;
  UserInterface& ui_;
  qreal dpr_;
  std::array<QWidget*, 3> subPages_{};
  std::array<PictureButton*, 3> tabs_{};
  std::array<QLabel*, 3> yellow_{}, white_{};
  std::array<QLineEdit*, 9> edits_{};  // by number: 1-5, 6, 7, 8
  QCheckBox* loginAuthenticationBox_ = nullptr;
  std::array<QTableWidget*, 2> grids_{};
  // Subject and contents of the drive-failure mail and of the removal mail.
  QPlainTextEdit* hddFailSubject_ = nullptr;
  QPlainTextEdit* hddFailContents_ = nullptr;
  QPlainTextEdit* removalSubject_ = nullptr;
  QPlainTextEdit* removalContents_ = nullptr;
  bool drawing_ = false;
};

}  // namespace raid
