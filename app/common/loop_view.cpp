#include "app/common/loop_view.h"

namespace raid {

void LoopView::SetPanelText(StatusBarPanel panel, const std::string& text) {
  if (host_.OnMainThread()) {
    inner_.SetPanelText(panel, text);
    return;
  }
  host_.Post([this, panel, text] { inner_.SetPanelText(panel, text); });
}

BoxResult LoopView::ShowMessage(const MessageBoxRequest& box) {
  if (host_.OnMainThread()) return inner_.ShowMessage(box);
  BoxResult r = BoxResult::Cancel;
  host_.RunAndWait([&] { r = inner_.ShowMessage(box); });
  return r;
}

void LoopView::ShowNotice(const MessageBoxRequest& box) {
  if (host_.OnMainThread()) {
    inner_.ShowNotice(box);
    return;
  }
  // Nothing waits for a notice: it is shown when the main thread comes to it.
  host_.Post([this, box] { inner_.ShowNotice(box); });
}

void LoopView::ProcessMessages() {
  if (host_.OnMainThread()) inner_.ProcessMessages();
}

}  // namespace raid
