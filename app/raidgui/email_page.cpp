#include "app/raidgui/email_page.h"

#include <QHeaderView>
#include <QPushButton>
#include <algorithm>
#include <tuple>

#include "app/raidgui/artwork.h"
#include "app/raidgui/make_widget.h"

namespace raid {

namespace {

// The sub-pages' height: they end just above OK and Ignore.
constexpr int kSubPageHeight = 236;

// Texts typed on this system are kept in its own code page.
std::string Local(const QString& s) {
  const QByteArray b = s.toLocal8Bit();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}
QString Shown(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }

TextLines LinesOf(const QPlainTextEdit* m) {
  TextLines lines;
  const QString text = m->toPlainText();
  if (text.isEmpty()) return lines;
  for (const QString& l : text.split('\n')) lines.push_back(Local(l));
  return lines;
}

void SetLines(QPlainTextEdit* m, const TextLines& lines) {
  QString text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + Shown(lines[i]);
  if (m->toPlainText() != text) m->setPlainText(text);
}

QLabel* Label(QWidget* parent, const QString& name, const QString& text, const QRect& r, bool bold = false) {
  auto* l = new QLabel(text, parent);
  MakePlain(l);
  l->setObjectName(name);
  l->setGeometry(r);
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

}  // namespace

EmailPage::EmailPage(QWidget* page, MailPage& model, MailNotifier& notifier, UserInterface& ui, qreal dpr)
    : QObject(page), model_(model), notifier_(notifier), ui_(ui), dpr_(dpr) {
  const char* names[3] = {"Image3_Setup", "Image3_HDDFail", "Image3_DeviceRemove"};
  const char* labels[3] = {"Setup", "HDD Fail", "Removal"};
  for (int i = 0; i < 3; ++i) {
    const QRect r(8 + i * 94, 4, 90, 26);
    tabs_[i] = new PictureButton(page, names[i], labels[i]);
    tabs_[i]->setGeometry(r);
    yellow_[i] =
        MakePictureStore(page, QString(names[i]) + "_Yellow", art::TabPicture(labels[i], true, 90, 26, dpr), r);
    white_[i] = MakePictureStore(page, QString(names[i]) + "_White", art::TabPicture(labels[i], false, 90, 26, dpr), r);
    connect(tabs_[i], &QAbstractButton::clicked, this, [this, i] { SelectSubPage(i); });
  }
  auto* subPageArea = new QWidget(page);
  subPageArea->setObjectName("Notebook2");
  subPageArea->setGeometry(0, 32, 385, kSubPageHeight);
  for (int i = 0; i < 3; ++i) {
    subPages_[i] = new QWidget(subPageArea);
    subPages_[i]->setObjectName(i == 0 ? "Page_Setup" : i == 1 ? "Page_HDD_Fail" : "Page_DeviceRemove");
    subPages_[i]->setGeometry(0, 0, 385, kSubPageHeight);
  }
  BuildSetup(subPages_[0]);
  BuildRecipients(subPages_[1], 1);
  BuildRecipients(subPages_[2], 2);
  for (auto [name, label, left] : {std::tuple{"Image3_OK", "OK", 80}, std::tuple{"Image3_Ignore", "Ignore", 200}}) {
    auto* b = MakeLabelledButton(page, name, label, QRect(left, 270, 100, 30), dpr);
    connect(b, &QAbstractButton::clicked, this,
            [this, ok = std::string(name) == "Image3_OK"] { ok ? OkClick() : IgnoreClick(); });
  }
  Redraw();
}

void EmailPage::BuildSetup(QWidget* w) {
  auto edit = [&](int n, MailField field, const QRect& r, const QString& accessible) {
    auto* e = new QLineEdit(w);
    e->setObjectName(QString("Edit%1").arg(n));
    e->setGeometry(r);
    e->setAccessibleName(accessible);
    edits_[static_cast<size_t>(n)] = e;
    connect(e, &QLineEdit::textEdited, this, [this, field](const QString& t) {
      if (!drawing_) model_.EditChanged(field, Local(t));
    });
    return e;
  };
  // The fields start right of the widest caption in the font at hand (at
  // 140 at least), so every caption shows whole.
  const char* captions[5] = {"Port", "E-Mail Host (SMTP)", "Name", "E-Mail Address", "Connect E-mail Host"};
  int left = 140;
  for (const char* c : captions) left = std::max(left, 16 + w->fontMetrics().horizontalAdvance(c) + 8);
  const int wide = 370 - left;
  Label(w, "Label_EmailSetup", "E-Mail Setup", QRect(8, 2, 200, 18), true);
  Label(w, "Label_Port", captions[0], QRect(16, 22, left - 20, 20));
  edit(1, MailField::Port, QRect(left, 22, 60, 20), "Port");
  Label(w, "Label_PortDefault", "( Default 25 )", QRect(left + 66, 22, 100, 20));
  Label(w, "Label_SmtpHost", captions[1], QRect(16, 46, left - 20, 20));
  edit(2, MailField::SmtpHost, QRect(left, 46, wide, 20), "E-Mail Host (SMTP)");
  Label(w, "Label_LocalInformation", "Local Information", QRect(8, 70, 200, 18), true);
  Label(w, "Label_Name", captions[2], QRect(16, 90, left - 20, 20));
  edit(3, MailField::SenderName, QRect(left, 90, wide, 20), "Name");
  Label(w, "Label_EmailAddress", captions[3], QRect(16, 114, left - 20, 20));
  edit(4, MailField::SenderAddress, QRect(left, 114, wide, 20), "E-Mail Address");
  Label(w, "Label_TimeOut", "Time Out", QRect(8, 138, 200, 18), true);
  Label(w, "Label_ConnectHost", captions[4], QRect(16, 158, left - 20, 20));
  edit(5, MailField::TimeOut, QRect(left, 158, 30, 20), "Connect E-mail Host time-out")->setMaxLength(2);
  Label(w, "Label_Sec", "(Sec)", QRect(left + 36, 158, 40, 20));
  loginAuthenticationBox_ = new QCheckBox("SMTP Login Authentication", w);
  loginAuthenticationBox_->setObjectName("CheckBox8");
  loginAuthenticationBox_->setGeometry(16, 184, 200, 20);
  connect(loginAuthenticationBox_, &QCheckBox::clicked, this, [this](bool on) {
    model_.LoginClick(on);
    Redraw();
  });
  QLineEdit* pw = edit(8, MailField::Password, QRect(220, 184, 150, 20), "Password");
  pw->setMaxLength(static_cast<int>(kPasswordMaxLength));
  pw->setEchoMode(QLineEdit::Password);
  auto* test = new QPushButton("Send test mail", w);
  test->setObjectName("Button_SendTestMail");
  test->setGeometry(16, 210, 130, 24);
  connect(test, &QPushButton::clicked, this, [this] { SendTestMailClick(); });
}

void EmailPage::BuildRecipients(QWidget* w, int sub) {
  const int n = sub == 1 ? 7 : 6;
  const QString p = sub == 1 ? "1" : "2";
  Label(w, "Label_Address" + p, "E-Mail Address", QRect(8, 2, 160, 18), true);
  auto* input = new QLineEdit(w);
  input->setObjectName(QString("Edit%1").arg(n));
  input->setGeometry(8, 22, 118, 20);
  input->setAccessibleName("New recipient address");
  edits_[static_cast<size_t>(n)] = input;
  connect(input, &QLineEdit::textEdited, this, [this, sub](const QString& t) {
    if (drawing_) return;
    (sub == 1 ? model_.Model.FailPageInput : model_.Model.RemovePageInput) = Local(t);
  });
  auto picture = [&](const QString& name, const QString& label, int left) {
    return MakeLabelledButton(w, name, label == "+" ? "Add address" : "Remove address", QRect(left, 22, 20, 20), dpr_,
                              label);
  };
  connect(picture("Image3_" + p + "P", "+", 128), &QAbstractButton::clicked, this, [this] {
    model_.AddRecipient();
    Redraw();
  });
  connect(picture("Image3_" + p + "M", "-", 150), &QAbstractButton::clicked, this, [this] {
    model_.RemoveRecipient();
    Redraw();
  });
  auto* grid = new QTableWidget(static_cast<int>(kMaxRecipients), 1, w);
  grid->setObjectName("StringGrid" + p);
  grid->setGeometry(8, 46, 162, 10 * 18 + 4);
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < static_cast<int>(kMaxRecipients); ++r) grid->setRowHeight(r, 18);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setAccessibleName("Recipients");
  grids_[static_cast<size_t>(sub - 1)] = grid;
  connect(grid, &QTableWidget::cellClicked, this, [this, sub](int row, int) {
    model_.SelectCell(sub, row);
    Redraw();
  });
  Label(w, "Label_EmailEdit" + p, "E-Mail Edit", QRect(180, 2, 190, 18), true);
  Label(w, "Label_Subject" + p, "Subject", QRect(180, 22, 190, 16));
  auto memo = [&](const QString& name, const QRect& r, const QString& accessible) {
    auto* m = new QPlainTextEdit(w);
    m->setObjectName(name);
    m->setGeometry(r);
    m->setAccessibleName(accessible);
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    return m;
  };
  QPlainTextEdit* subject = memo(sub == 1 ? "Memo5" : "Memo3", QRect(180, 38, 196, 38), "Subject");
  Label(w, "Label_Contents" + p, "Contents", QRect(180, 78, 190, 16));
  QPlainTextEdit* contents = memo(sub == 1 ? "Memo6" : "Memo4", QRect(180, 94, 196, 84), "Contents");
  (sub == 1 ? hddFailSubject_ : removalSubject_) = subject;
  (sub == 1 ? hddFailContents_ : removalContents_) = contents;
  for (QPlainTextEdit* m : {subject, contents}) {
    connect(m, &QPlainTextEdit::textChanged, this, [this, m, sub, subject] {
      if (drawing_) return;
      MailPageModel& mm = model_.Model;
      TextLines& lines = m == subject ? (sub == 1 ? mm.FailSubject : mm.RemoveSubject)
                                      : (sub == 1 ? mm.FailContents : mm.RemoveContents);
      lines = LinesOf(m);
    });
  }
  auto* note =
      Label(w, "Label_AutoAdd" + p,
            QString("Auto Add :") + "\n" + (sub == 1 ? "Hard Disk Fail info. and " : "Device Removed info. and ") +
                "system info. in front of E-Mail contents.",
            QRect(180, 180, 196, 48));
  note->setWordWrap(true);
  note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The note takes the lines it needs at the foot of the sub-page (above
  // OK and Ignore); the contents box has what is left above it.
  const int noteHeight = note->heightForWidth(note->width());
  const int noteTop = std::max(contents->y() + 36, kSubPageHeight - noteHeight);
  note->setGeometry(note->x(), noteTop, note->width(), kSubPageHeight - noteTop);
  contents->setGeometry(contents->x(), contents->y(), contents->width(), noteTop - 2 - contents->y());
}

void EmailPage::Enter() {
  if (EnterOverride) return EnterOverride();
  model_.Fill();
  Redraw();
  // Stored settings that cannot be read are said, not shown as defaults.
  if (!notifier_.Settings.LoadError.empty())
    ui_.ShowMessage({"The stored mail settings cannot be read: " + notifier_.Settings.LoadError, "E-Mail Message",
                     BoxIcon::Warning, BoxButtons::Ok});
}

void EmailPage::SelectSubPage(int page) {
  model_.SelectSubPage(page);
  Redraw();
}

void EmailPage::RedrawTabs() {
  for (int i = 0; i < 3; ++i) {
    tabs_[i]->setPicture((model_.Model.SubPage == i ? yellow_[i] : white_[i])->pixmap());
    subPages_[i]->setVisible(model_.Model.SubPage == i);
  }
}

void EmailPage::Redraw() {
  drawing_ = true;
  const MailPageModel& m = model_.Model;
  const std::string* texts[9] = {nullptr,          &m.Port,    &m.SmtpHost,        &m.SenderName,
                                 &m.SenderAddress, &m.TimeOut, &m.RemovePageInput, &m.FailPageInput,
                                 &m.Password};
  for (size_t n = 1; n < 9; ++n) {
    const QString t = Shown(*texts[n]);
    if (edits_[n]->text() != t) edits_[n]->setText(t);
  }
  loginAuthenticationBox_->setChecked(m.LoginChecked);
  edits_[8]->setVisible(m.PasswordVisible);
  SetLines(hddFailSubject_, m.FailSubject);
  SetLines(hddFailContents_, m.FailContents);
  SetLines(removalSubject_, m.RemoveSubject);
  SetLines(removalContents_, m.RemoveContents);
  for (QTableWidget* g : grids_) {
    for (int r = 0; r < static_cast<int>(kMaxRecipients); ++r) {
      QTableWidgetItem* item = g->item(r, 0);
      if (!item) g->setItem(r, 0, item = new QTableWidgetItem);
      item->setText(Shown(m.Grid[static_cast<size_t>(r)]));
    }
  }
  RedrawTabs();
  drawing_ = false;
}

void EmailPage::OkClick() {
  if (OkOverride) return OkOverride();
  model_.OkClick();
  Redraw();
}

void EmailPage::IgnoreClick() { Enter(); }

void EmailPage::SendTestMailClick() {
  if (TestMailOverride) return TestMailOverride();
  if (const Outcome queued = notifier_.QueueTestMail(); !queued)
    ui_.ShowMessage(
        {"The test mail cannot be sent: " + queued.error(), "E-Mail Message", BoxIcon::Warning, BoxButtons::Ok});
}

}  // namespace raid
