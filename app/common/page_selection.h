// The front end's own view state: the page in front and the enclosure each
// page has selected. The window and raidmon each own one and lend it to
// their core, which reads it through ViewFocus.
#pragma once

#include <cstdint>

#include "monitor/view_focus.h"

namespace raid {

// The notebook's pages by index, in the order of ShownPage.
namespace notebook_page {
constexpr uint8_t kStatus = static_cast<uint8_t>(ShownPage::Status);
constexpr uint8_t kSetup = static_cast<uint8_t>(ShownPage::Setup);
constexpr uint8_t kUpgrade = static_cast<uint8_t>(ShownPage::Upgrade);
constexpr uint8_t kEmail = static_cast<uint8_t>(ShownPage::Email);
constexpr uint8_t kAbout = static_cast<uint8_t>(ShownPage::About);
constexpr uint8_t kCount = kShownPageCount;
}  // namespace notebook_page

class PageSelection final : public ViewFocus {
 public:
  ShownPage Page() const override { return page_; }
  void SetPage(ShownPage page) override { page_ = page; }
  uint8_t StatusSlot() const override { return statusSlot_; }
  void SetStatusSlot(uint8_t slot) override { statusSlot_ = slot; }
  uint8_t UpgradeSlot() const override { return upgradeSlot_; }
  void SetUpgradeSlot(uint8_t slot) override { upgradeSlot_ = slot; }
  bool Selecting() const override { return selecting_; }
  void SetSelecting(bool on) override { selecting_ = on; }

 private:
  ShownPage page_ = ShownPage::Status;  // the window opens on the Status page
  uint8_t statusSlot_ = 0;
  uint8_t upgradeSlot_ = 0;
  bool selecting_ = false;
};

}  // namespace raid
