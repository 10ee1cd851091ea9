#include "notify/mail_page.h"

#include <algorithm>

#include "monitor/monitor_state.h"
#include "notify/mail_address.h"

namespace raid {

void MailPage::Fill() {
  MailPageModel& m = Model;
  if (s_.SettingsKeyExists) {
    m.Port = s_.Setting(kPort);
    m.SmtpHost = s_.Setting(kSmtpHost);
    m.SenderName = s_.Setting(kSenderName);
    m.SenderAddress = s_.Setting(kSenderAddress);
    m.TimeOut = s_.Setting(kTimeOut);
    m.Password = s_.Setting(kPassword);
    m.LoginChecked = (s_.MailAuthState & 1) != 0;
    m.PasswordVisible = m.LoginChecked;
    m.FailSubject = s_.MailSubjectTemplate[1];
    m.FailContents = s_.MailContentsTemplate[1];
    m.RemoveSubject = s_.MailSubjectTemplate[2];
    m.RemoveContents = s_.MailContentsTemplate[2];
    m.Recipients = s_.MailRecipients;
    m.CaFile = s_.CaFile;
    m.Tls = s_.Tls;
    RefillGrids();
  } else {
    m.Port = "25";
    m.TimeOut = "0";
    m.CaFile.clear();
    m.Tls = TlsPolicy::Auto;
    m.LoginChecked = false;
    m.PasswordVisible = false;
  }
  m.RemovePageInput.clear();
  m.FailPageInput.clear();
  m.MailPageDirty = 0;
  caFileShown_ = m.CaFile;
  tlsShown_ = m.Tls;
}

void MailPage::SelectSubPage(int page) {
  if (page < 0 || page > 2) return;
  Model.SubPage = page;
  Model.RemovePageInput.clear();
  Model.FailPageInput.clear();
}

void MailPage::EditChanged(MailField field, const std::string& text) {
  // Each edit box: where the model keeps its text, how much of the text it
  // keeps, and the setting the change marks unsaved.
  struct EditBox {
    MailField field;
    std::string MailPageModel::*text;
    size_t maxLength;
    uint8_t dirty;
  };
  static constexpr EditBox kEditBoxes[] = {
      {MailField::Port, &MailPageModel::Port, std::string::npos, mail_dirty::kPort},
      {MailField::SmtpHost, &MailPageModel::SmtpHost, std::string::npos, mail_dirty::kHost},
      {MailField::SenderName, &MailPageModel::SenderName, std::string::npos, mail_dirty::kName},
      {MailField::SenderAddress, &MailPageModel::SenderAddress, std::string::npos, mail_dirty::kAddress},
      {MailField::TimeOut, &MailPageModel::TimeOut, 2, mail_dirty::kTimeOut},
      {MailField::Password, &MailPageModel::Password, kPasswordMaxLength, mail_dirty::kPassword},
  };
  for (const EditBox& box : kEditBoxes) {
    if (box.field != field) continue;
    Model.*box.text = text.substr(0, box.maxLength);
    Model.MailPageDirty |= box.dirty;
  }
}

void MailPage::LoginClick(bool checked) {
  Model.LoginChecked = checked;
  Model.PasswordVisible = checked;
}

void MailPage::RefillGrids() {
  for (size_t r = 0; r < kMaxRecipients; ++r) Model.Grid[r] = r < Model.Recipients.size() ? Model.Recipients[r] : " ";
}

void MailPage::AddRecipient() {
  if (Model.SubPage == 0) return;
  std::string& input = Input();
  if (input.empty() || Model.Recipients.size() >= kMaxRecipients) return;
  if (!MailboxSyntaxError(input).empty()) {
    ui_.ShowMessage({"E-Mail Address formula error!", "E-Mail Message", BoxIcon::None, BoxButtons::Ok});
  } else if (std::any_of(Model.Recipients.begin(), Model.Recipients.end(),
                         [&](const std::string& r) { return SameMailbox(r, input); })) {
    // Already in the list: it would get every mail twice.
  } else {
    Model.Recipients.push_back(input);
    RefillGrids();
  }
  input.clear();
}

void MailPage::RemoveRecipient() {
  if (Model.SubPage == 0) return;
  const int row = Model.SubPage == 1 ? Model.FailGridRow : Model.RemoveGridRow;
  if (row < 0 || static_cast<size_t>(row) >= Model.Recipients.size()) return;
  Model.Recipients.erase(Model.Recipients.begin() + row);
  Input().clear();
  RefillGrids();
}

void MailPage::SelectCell(int grid, int row) {
  if (row < 0 || row >= static_cast<int>(kMaxRecipients)) return;
  if (grid == 1) {
    Model.FailGridRow = row;
    Model.FailPageInput = Model.Grid[static_cast<size_t>(row)];
  } else if (grid == 2) {
    Model.RemoveGridRow = row;
    Model.RemovePageInput = Model.Grid[static_cast<size_t>(row)];
  }
}

Outcome MailPage::Save() {
  MailPageModel& m = Model;
  if (m.Port.empty()) m.Port = "25";
  if (m.TimeOut.empty()) m.TimeOut = "0";
  const bool existed = s_.SettingsKeyExists;
  SettingsStore::NamedValues values;
  auto text = [&](const std::string& name, const std::string& v) {
    values.emplace_back(name, SettingsValue{SettingsType::String, v, 0, {}});
  };
  auto dword = [&](const std::string& name, uint32_t v) {
    values.emplace_back(name, SettingsValue{SettingsType::Dword, "", v, {}});
  };
  const std::string* fields[5] = {&m.Port, &m.SmtpHost, &m.SenderName, &m.SenderAddress, &m.TimeOut};
  for (size_t i = 0; i < 5; ++i) {
    if (existed && !(m.MailPageDirty & (1u << i))) continue;
    text(ServerValueName(i), *fields[i]);
  }
  if (((s_.MailAuthState & 1) != 0) != m.LoginChecked) m.MailPageDirty |= mail_dirty::kPassword;
  // A record that did not decode shows "ErrorFormat" in the password field;
  // it is only replaced when the password or the switch was touched, so an
  // edit of another field never stores that text as the password.
  const bool recordKept = existed && s_.MailAuthState == kAuthInvalid && !(m.MailPageDirty & mail_dirty::kPassword);
  if ((m.MailPageDirty != 0 || !existed) && !recordKept) {
    const PasswordRecord rec = EncodePasswordRecord(m.Password, m.LoginChecked, s_.MailSalt);
    values.emplace_back("ProductID", SettingsValue{SettingsType::Binary, "", 0, {rec.begin(), rec.end()}});
  }
  if (m.Recipients != s_.MailRecipients) {
    dword("ToAddrCount", static_cast<uint32_t>(m.Recipients.size()));
    m.MailPageDirty |= mail_dirty::kRecipients;
    for (size_t j = 0; j < m.Recipients.size(); ++j) text(RecipientName(j), m.Recipients[j]);
  } else if (!existed) {
    dword("ToAddrCount", static_cast<uint32_t>(m.Recipients.size()));
  }
  text("FilePath", s_.MailTemplateDir);
  // Written only when changed, so a store that never had them keeps
  // reading as the defaults.
  if (m.CaFile != caFileShown_) text(kCaFileSetting, m.CaFile);
  if (m.Tls != tlsShown_) text(kTlsPolicySetting, TlsPolicyName(m.Tls));
  values.insert(values.end(), extra_.begin(), extra_.end());
  extra_.clear();
  Outcome r = store_.WriteAll(values, !existed);
  s_.SettingsKeyExists = existed || store_.KeyExists();
  if (!r.ok()) return r;
  caFileShown_ = m.CaFile;
  tlsShown_ = m.Tls;
  const TextLines* memos[2][2] = {{&m.FailSubject, &m.FailContents}, {&m.RemoveSubject, &m.RemoveContents}};
  for (int k = 1; k <= 2; ++k) {
    if (!(r = WriteTemplateFile(SubjectFileName(s_.MailTemplateDir, k), *memos[k - 1][0])).ok()) return r;
    if (!(r = WriteTemplateFile(ContentsFileName(s_.MailTemplateDir, k), *memos[k - 1][1])).ok()) return r;
  }
  return {};
}

bool MailPage::OkClick() {
  const Outcome r = Save();
  // What reached the store is read back by the next load, also after a
  // failed write.
  flags_ |= mail_request::kReloadSettings;
  s_.MailSettingsLoaded = false;
  if (!r.ok()) {
    ui_.ShowMessage(
        {"The mail settings could not be saved: " + r.error(), "E-Mail Message", BoxIcon::Error, BoxButtons::Ok});
    return false;
  }
  return true;
}

namespace {

TextLines LinesOf(const nlohmann::json& v) {
  TextLines lines;
  if (!v.is_array()) return lines;
  for (const nlohmann::json& l : v)
    if (l.is_string() && lines.size() < 1000) lines.push_back(l.get<std::string>().substr(0, 4096));
  return lines;
}

std::string TextOf(const nlohmann::json& page, const char* key, const std::string& fallback) {
  const auto it = page.find(key);
  return it != page.end() && it->is_string() ? it->get<std::string>() : fallback;
}

}  // namespace

nlohmann::json MailPage::PageJson() const {
  const MailPageModel& m = Model;
  return {{"port", m.Port},
          {"server", m.SmtpHost},
          {"name", m.SenderName},
          {"address", m.SenderAddress},
          {"timeout", m.TimeOut},
          {"login", m.LoginChecked},
          {"passwordSet", !m.Password.empty()},
          {"recipients", m.Recipients},
          {"failSubject", m.FailSubject},
          {"failContents", m.FailContents},
          {"removeSubject", m.RemoveSubject},
          {"removeContents", m.RemoveContents}};
}

void MailPage::ShowPageJson(const nlohmann::json& page) {
  if (!page.is_object()) return;
  MailPageModel& m = Model;
  m.Port = TextOf(page, "port", m.Port);
  m.SmtpHost = TextOf(page, "server", m.SmtpHost);
  m.SenderName = TextOf(page, "name", m.SenderName);
  m.SenderAddress = TextOf(page, "address", m.SenderAddress);
  m.TimeOut = TextOf(page, "timeout", m.TimeOut);
  const auto login = page.find("login");
  if (login != page.end() && login->is_boolean()) m.LoginChecked = login->get<bool>();
  m.Password.clear();
  m.Recipients.clear();
  for (const std::string& r : LinesOf(page.value("recipients", nlohmann::json::array())))
    if (m.Recipients.size() < kMaxRecipients) m.Recipients.push_back(r);
  m.FailSubject = LinesOf(page.value("failSubject", nlohmann::json()));
  m.FailContents = LinesOf(page.value("failContents", nlohmann::json()));
  m.RemoveSubject = LinesOf(page.value("removeSubject", nlohmann::json()));
  m.RemoveContents = LinesOf(page.value("removeContents", nlohmann::json()));
  m.MailPageDirty = 0;
  RefillGrids();
}

void MailPage::ApplyPageJson(const nlohmann::json& page, const std::optional<std::string>& password) {
  if (!page.is_object()) return;
  struct Edit {
    MailField field;
    const char* key;
    std::string MailPageModel::*text;
  };
  static constexpr Edit kEdits[] = {{MailField::Port, "port", &MailPageModel::Port},
                                    {MailField::SmtpHost, "server", &MailPageModel::SmtpHost},
                                    {MailField::SenderName, "name", &MailPageModel::SenderName},
                                    {MailField::SenderAddress, "address", &MailPageModel::SenderAddress},
                                    {MailField::TimeOut, "timeout", &MailPageModel::TimeOut}};
  for (const Edit& e : kEdits) {
    const std::string v = TextOf(page, e.key, Model.*e.text);
    if (v != Model.*e.text) EditChanged(e.field, v);
  }
  if (password) EditChanged(MailField::Password, *password);
  const auto login = page.find("login");
  if (login != page.end() && login->is_boolean() && login->get<bool>() != Model.LoginChecked)
    LoginClick(login->get<bool>());
  if (page.contains("recipients")) {
    const TextLines wanted = LinesOf(page["recipients"]);
    SelectSubPage(1);
    for (size_t row = Model.Recipients.size(); row-- > 0;) {
      if (std::find(wanted.begin(), wanted.end(), Model.Recipients[row]) != wanted.end()) continue;
      SelectCell(1, static_cast<int>(row));
      RemoveRecipient();
    }
    for (const std::string& r : wanted) {
      if (std::find(Model.Recipients.begin(), Model.Recipients.end(), r) != Model.Recipients.end()) continue;
      Model.FailPageInput = r;
      AddRecipient();
    }
    SelectSubPage(0);
  }
  for (const auto& [key, memo] :
       {std::pair{"failSubject", &MailPageModel::FailSubject}, std::pair{"failContents", &MailPageModel::FailContents},
        std::pair{"removeSubject", &MailPageModel::RemoveSubject},
        std::pair{"removeContents", &MailPageModel::RemoveContents}})
    if (page.contains(key)) Model.*memo = LinesOf(page[key]);
}

}  // namespace raid
