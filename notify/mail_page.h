// The E-mail page of the main window as a model: its three sub-pages
// (Setup, HDD_Fail, DeviceRemove) with their fields, the one working
// recipient list both grids show, the edit bits, OK (save) and Ignore. The
// window draws the model and forwards the user's edits; raidctl's mail
// commands edit the same model and press the same OK.
#pragma once

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

struct MailPageModel {
  int SubPage = 0;                                       // 0 Setup, 1 HDD_Fail, 2 DeviceRemove
  std::string Edit1, Edit2, Edit3, Edit4, Edit5, Edit8;  // port, host, name, address, time-out, password
  bool CheckBox8 = false;
  bool Edit8Visible = false;
  std::string Edit7, Edit6;  // address inputs of sub-pages 1 and 2
  // Subject and contents: Memo5/Memo6 category 1, Memo3/Memo4 category 2.
  TextLines Memo5, Memo6, Memo3, Memo4;
  std::vector<std::string> Recipients;           // the working list
  std::array<std::string, kMaxRecipients> Grid;  // both grids' cells
  int Grid1Row = 0, Grid2Row = 0;
  uint8_t MailPageDirty = 0;
};

class MailPage {
 public:
  MailPage(MailSettingsState& settings, SettingsStore& store, std::atomic<uint8_t>& requestFlags, UserInterface& ui)
      : s_(settings), store_(store), flags_(requestFlags), ui_(ui) {}

  MailPageModel Model;

  // Image_EmailClick and Image3_IgnoreClick: the fields from memory.
  void Fill();
  void Image3_SetupClick() { SelectSubPage(0); }
  void Image3_HDDFailClick() { SelectSubPage(1); }
  void Image3_DeviceRemoveClick() { SelectSubPage(2); }
  void SelectSubPage(int page);
  // Edit1Change .. Edit5Change, Edit8Change: the text and its edit bit.
  void EditChanged(int edit, const std::string& text);
  void CheckBox8Click(bool checked);
  void Image3_1PClick();               // add the sub-page's input to the list
  void Image3_1MClick();               // remove the sub-page's selected row
  void SelectCell(int grid, int row);  // StringGrid1SelectCell / StringGrid2SelectCell
  // OK: saves in order, writing only what the edit bits say. False when the
  // store refused a write (the user has been told; what was stored before
  // the failing write stays).
  bool Image3_OKClick();

 private:
  void RefillGrids();
  std::string& Input() { return Model.SubPage == 2 ? Model.Edit6 : Model.Edit7; }
  SettingsResult Save();

  MailSettingsState& s_;
  SettingsStore& store_;
  std::atomic<uint8_t>& flags_;
  UserInterface& ui_;
};

}  // namespace raid
