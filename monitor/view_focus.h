// What a front end shows: which of its pages is in front and which
// enclosure the Status and Upgrade pages have selected. The front end owns
// that state (a window has pages, raidmon shows one status, the service
// none); the core reads it to decide what a poll redraws and whose identity
// the caption carries, and moves a selection when its enclosure goes away or
// its monitoring is switched off.
#pragma once

#include <cstdint>

namespace raid {

// The pages a front end may show, in the window's order.
enum class ShownPage : uint8_t { Status, Setup, Upgrade, Email, About };
constexpr uint8_t kShownPageCount = 5;

class ViewFocus {
 public:
  virtual ~ViewFocus() = default;
  virtual ShownPage Page() const = 0;
  virtual void SetPage(ShownPage page) = 0;
  // The enclosure of the Status page, which the Setup page's commands and
  // the scan buttons address too.
  virtual uint8_t StatusSlot() const = 0;
  virtual void SetStatusSlot(uint8_t slot) = 0;
  // The enclosure of the Upgrade page, which an upgrade started there leases.
  virtual uint8_t UpgradeSlot() const = 0;
  virtual void SetUpgradeSlot(uint8_t slot) = 0;
  // True while a Status page selection is being drawn: the option
  // controls then keep their state and a schedule click is not sent.
  virtual bool Selecting() const = 0;
  virtual void SetSelecting(bool on) = 0;

  // The enclosure of the page in front: the Upgrade page's on that page,
  // else the Status page's.
  uint8_t ShownSlot() const { return Page() == ShownPage::Upgrade ? UpgradeSlot() : StatusSlot(); }
};

}  // namespace raid
