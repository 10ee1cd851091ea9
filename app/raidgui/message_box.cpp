#include "app/raidgui/message_box.h"
#include "app/common/text.h"
#include "app/raidgui/make_widget.h"

#include <QMessageBox>
#include <QPointer>
#include <map>

namespace raid {

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

static void Fill(QMessageBox& mb, const MessageBoxRequest& box) {
  mb.setWindowFlags(kCloseOnlyDialog);
  mb.setWindowTitle(ToQt(box.caption));
  // Texts carry device, file and user texts: shown as they are.
  mb.setTextFormat(Qt::PlainText);
  mb.setText(ToQt(box.text));
  switch (box.icon) {
    case BoxIcon::Information: mb.setIcon(QMessageBox::Information); break;
    case BoxIcon::Warning: mb.setIcon(QMessageBox::Warning); break;
    case BoxIcon::Error: mb.setIcon(QMessageBox::Critical); break;
    case BoxIcon::Question: mb.setIcon(QMessageBox::Question); break;
    case BoxIcon::None: break;
  }
  switch (box.buttons) {
    case BoxButtons::Ok: mb.setStandardButtons(QMessageBox::Ok); break;
    case BoxButtons::OkCancel: mb.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case BoxButtons::YesNo:
      // A question the user may not have read is answered no.
      mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      mb.setDefaultButton(QMessageBox::No);
      break;
  }
}

QWidget* ShowNoticeBox(QWidget* parent, const MessageBoxRequest& box) {
  static std::map<std::string, QPointer<QMessageBox>> open;
  QPointer<QMessageBox>& existing = open[box.caption + '\n' + box.text];
  if (existing && existing->isVisible()) {
    existing->raise();
    return existing;
  }
  auto* mb = new QMessageBox(parent);
  mb->setAttribute(Qt::WA_DeleteOnClose);
  mb->setWindowModality(Qt::NonModal);
  Fill(*mb, box);
  existing = mb;
  mb->show();
  return mb;
}

BoxResult ShowMessageBox(QWidget* parent, const MessageBoxRequest& box) {
  if (Hook()) return Hook()(box);
  QMessageBox mb(parent);
  Fill(mb, box);
  switch (mb.exec()) {
    case QMessageBox::Cancel: return BoxResult::Cancel;
    case QMessageBox::Yes: return BoxResult::Yes;
    case QMessageBox::No: return BoxResult::No;
    default: return BoxResult::Ok;
  }
}

}  // namespace raid
