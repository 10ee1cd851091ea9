#include "notify/mail_page.h"

namespace raid {

void MailPage::Fill() {
  MailPageModel& m = Model;
  if (s_.SettingsKeyExists) {
    m.Edit1 = s_.Setting(kPort);
    m.Edit2 = s_.Setting(kSmtpHost);
    m.Edit3 = s_.Setting(kSenderName);
    m.Edit4 = s_.Setting(kSenderAddress);
    m.Edit5 = s_.Setting(kTimeOut);
    m.Edit8 = s_.Setting(kPassword);
    m.CheckBox8 = (s_.MailAuthState & 1) != 0;
    m.Edit8Visible = m.CheckBox8;
    m.Memo5 = s_.MailSubjectTemplate[1];
    m.Memo6 = s_.MailContentsTemplate[1];
    m.Memo3 = s_.MailSubjectTemplate[2];
    m.Memo4 = s_.MailContentsTemplate[2];
    m.Recipients = s_.MailRecipients;
    RefillGrids();
  } else {
    m.Edit1 = "25";
    m.Edit5 = "0";
    m.CheckBox8 = false;
    m.Edit8Visible = false;
  }
  m.Edit6.clear();
  m.Edit7.clear();
  m.MailPageDirty = 0;
}

void MailPage::SelectSubPage(int page) {
  if (page < 0 || page > 2) return;
  Model.SubPage = page;
  Model.Edit6.clear();
  Model.Edit7.clear();
}

void MailPage::EditChanged(int edit, const std::string& text) {
  // Each edit box: where the model keeps its text, how much of the text it
  // keeps, and the setting the change marks unsaved.
  struct EditBox {
    int edit;
    std::string MailPageModel::*text;
    size_t maxLength;
    uint8_t dirty;
  };
  static constexpr EditBox kEditBoxes[] = {
      {1, &MailPageModel::Edit1, std::string::npos, mail_dirty::kPort},
      {2, &MailPageModel::Edit2, std::string::npos, mail_dirty::kHost},
      {3, &MailPageModel::Edit3, std::string::npos, mail_dirty::kName},
      {4, &MailPageModel::Edit4, std::string::npos, mail_dirty::kAddress},
      {5, &MailPageModel::Edit5, 2, mail_dirty::kTimeOut},
      {8, &MailPageModel::Edit8, kPasswordMaxLength, mail_dirty::kPassword},
  };
  for (const EditBox& box : kEditBoxes) {
    if (box.edit != edit) continue;
    Model.*box.text = text.substr(0, box.maxLength);
    Model.MailPageDirty |= box.dirty;
  }
}

void MailPage::CheckBox8Click(bool checked) {
  Model.CheckBox8 = checked;
  Model.Edit8Visible = checked;
}

void MailPage::RefillGrids() {
  for (size_t r = 0; r < kMaxRecipients; ++r) Model.Grid[r] = r < Model.Recipients.size() ? Model.Recipients[r] : " ";
}

void MailPage::Image3_1PClick() {
  if (Model.SubPage == 0) return;
  std::string& input = Input();
  if (input.empty() || Model.Recipients.size() >= kMaxRecipients) return;
  if (input.find('@') == std::string::npos) {
    ui_.ShowMessage({"E-Mail Address formula error!", "E-Mail Message", BoxIcon::None, BoxButtons::Ok});
  } else {
    Model.Recipients.push_back(input);
    RefillGrids();
  }
  input.clear();
}

void MailPage::Image3_1MClick() {
  if (Model.SubPage == 0) return;
  const int row = Model.SubPage == 1 ? Model.Grid1Row : Model.Grid2Row;
  if (row < 0 || static_cast<size_t>(row) >= Model.Recipients.size()) return;
  Model.Recipients.erase(Model.Recipients.begin() + row);
  Input().clear();
  RefillGrids();
}

void MailPage::SelectCell(int grid, int row) {
  if (row < 0 || row >= static_cast<int>(kMaxRecipients)) return;
  if (grid == 1) {
    Model.Grid1Row = row;
    Model.Edit7 = Model.Grid[static_cast<size_t>(row)];
  } else if (grid == 2) {
    Model.Grid2Row = row;
    Model.Edit6 = Model.Grid[static_cast<size_t>(row)];
  }
}

SettingsResult MailPage::Save() {
  MailPageModel& m = Model;
  if (m.Edit1.empty()) m.Edit1 = "25";
  if (m.Edit5.empty()) m.Edit5 = "0";
  const bool existed = s_.SettingsKeyExists;
  SettingsResult r;
  const std::string* fields[5] = {&m.Edit1, &m.Edit2, &m.Edit3, &m.Edit4, &m.Edit5};
  if (!existed) {
    if (!(r = store_.CreateKey()).ok) return r;
    s_.SettingsKeyExists = true;
  }
  for (size_t i = 0; i < 5; ++i) {
    if (existed && !(m.MailPageDirty & (1u << i))) continue;
    if (!(r = store_.WriteString(ServerValueName(i), *fields[i])).ok) return r;
  }
  if (((s_.MailAuthState & 1) != 0) != m.CheckBox8) m.MailPageDirty |= mail_dirty::kPassword;
  // A record that did not decode shows "ErrorFormat" in the password field;
  // it is only replaced when the password or the switch was touched, so an
  // edit of another field never stores that text as the password.
  const bool recordKept = existed && s_.MailAuthState == kAuthInvalid && !(m.MailPageDirty & mail_dirty::kPassword);
  if ((m.MailPageDirty != 0 || !existed) && !recordKept) {
    const PasswordRecord rec = EncodePasswordRecord(m.Edit8, m.CheckBox8, s_.MailSalt);
    if (!(r = store_.WriteBinary("ProductID", std::vector<uint8_t>(rec.begin(), rec.end()))).ok) return r;
  }
  if (m.Recipients != s_.MailRecipients) {
    if (!(r = store_.WriteDword("ToAddrCount", static_cast<uint32_t>(m.Recipients.size()))).ok) return r;
    m.MailPageDirty |= mail_dirty::kRecipients;
    for (size_t j = 0; j < m.Recipients.size(); ++j)
      if (!(r = store_.WriteString(RecipientName(j), m.Recipients[j])).ok) return r;
  } else if (!existed) {
    if (!(r = store_.WriteDword("ToAddrCount", static_cast<uint32_t>(m.Recipients.size()))).ok) return r;
  }
  if (!(r = store_.WriteString("FilePath", s_.MailTemplateDir)).ok) return r;
  const TextLines* memos[2][2] = {{&m.Memo5, &m.Memo6}, {&m.Memo3, &m.Memo4}};
  for (int k = 1; k <= 2; ++k) {
    if (!(r = WriteTemplateFile(SubjectFileName(s_.MailTemplateDir, k), *memos[k - 1][0])).ok) return r;
    if (!(r = WriteTemplateFile(ContentsFileName(s_.MailTemplateDir, k), *memos[k - 1][1])).ok) return r;
  }
  return {};
}

bool MailPage::Image3_OKClick() {
  const SettingsResult r = Save();
  // What reached the store is read back by the next load, also after a
  // failed write.
  flags_ |= 0x01;
  s_.MailSettingsLoaded = false;
  if (!r.ok) {
    ui_.ShowMessage(
        {"The mail settings could not be saved: " + r.error, "E-Mail Message", BoxIcon::Error, BoxButtons::Ok});
    return false;
  }
  return true;
}

}  // namespace raid
