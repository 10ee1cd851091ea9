// The E-mail page of the main window as a model: its three sub-pages
// (Setup, HDD_Fail, DeviceRemove) with their fields, the one working
// recipient list both grids show, the edit bits, OK (save) and Ignore. The
// window draws the model and forwards the user's edits; raidctl's mail
// commands edit the same model and press the same OK.
#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "notify/mail_settings.h"
#include "platform/settings_store.h"
#include "platform/user_interface.h"

namespace raid {

// MailPageDirty bits.
namespace mail_dirty {
constexpr uint8_t kPort = 0x01, kHost = 0x02, kName = 0x04, kAddress = 0x08, kTimeOut = 0x10, kPassword = 0x20,
                  kRecipients = 0x40;
}

// The edit boxes of the Setup sub-page.
enum class MailField { Port, SmtpHost, SenderName, SenderAddress, TimeOut, Password };

struct MailPageModel {
  int SubPage = 0;  // 0 Setup, 1 HDD_Fail, 2 DeviceRemove
  std::string Port, SmtpHost, SenderName, SenderAddress, TimeOut,
      Password;  // port, host, name, address, time-out, password
  bool LoginChecked = false;
  bool PasswordVisible = false;
  std::string FailPageInput, RemovePageInput;  // address inputs of sub-pages 1 and 2
  // Subject and contents: FailSubject/FailContents category 1, RemoveSubject/RemoveContents category 2.
  TextLines FailSubject, FailContents, RemoveSubject, RemoveContents;
  // The connection's security (the window has no field for them; raidctl
  // sets them through the same OK).
  std::string CaFile;
  TlsPolicy Tls = TlsPolicy::Auto;
  std::vector<std::string> Recipients;           // the working list
  std::array<std::string, kMaxRecipients> Grid;  // both grids' cells
  int FailGridRow = 0, RemoveGridRow = 0;
  uint8_t MailPageDirty = 0;
};

class MailPage {
 public:
  MailPage(MailSettingsState& settings, SettingsStore& store, std::atomic<uint8_t>& requestFlags, UserInterface& ui)
      : s_(settings), store_(store), flags_(requestFlags), ui_(ui) {}

  MailPageModel Model;

  // Image_EmailClick and Image3_IgnoreClick: the fields from memory.
  void Fill();
  void SelectSubPage(int page);
  // An edit box's text changed: the text and its edit bit.
  void EditChanged(MailField field, const std::string& text);
  void LoginClick(bool checked);
  void AddRecipient();                 // add the sub-page's input to the list
  void RemoveRecipient();              // remove the sub-page's selected row
  void SelectCell(int grid, int row);  // StringGrid1SelectCell / StringGrid2SelectCell
  // OK: saves in order, writing only what the edit bits say, all values in
  // one write of the store. False when the store refused a write (the user
  // has been told; what was stored before the failing write stays).
  bool OkClick();
  // A value the next OK stores with the page's own (once).
  void AlsoStore(const std::string& name, const SettingsValue& value) { extra_.emplace_back(name, value); }

  // The page as JSON (never the password: whether one is set), and a
  // page filled from such JSON (a window showing the monitor service's
  // settings; the password field left empty, nothing marked edited).
  nlohmann::json PageJson() const;
  void ShowPageJson(const nlohmann::json& page);
  // The edits of a page sent as JSON, made through the page's own edits,
  // clicks and list changes (the OK that follows stores them); the
  // password only when given.
  void ApplyPageJson(const nlohmann::json& page, const std::optional<std::string>& password);

 private:
  void RefillGrids();
  std::string& Input() { return Model.SubPage == 2 ? Model.RemovePageInput : Model.FailPageInput; }
  Outcome Save();

  MailSettingsState& s_;
  SettingsStore& store_;
  std::atomic<uint8_t>& flags_;
  UserInterface& ui_;
  SettingsStore::NamedValues extra_;
  // The security values as Fill showed them: OK stores them only when they
  // were changed since, so a window whose page has no field for them never
  // writes back older values over a change made meanwhile.
  std::string caFileShown_;
  TlsPolicy tlsShown_ = TlsPolicy::Auto;
};

}  // namespace raid
