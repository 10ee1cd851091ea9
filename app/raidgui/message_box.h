// Message boxes of the window: modal ones, and informing ones that wait for
// nobody. Tests answer them in advance through
// the hook, so nothing ever waits for a click that will not come.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/user_interface.h"

namespace raid {

using MessageBoxHook = std::function<BoxResult(const MessageBoxRequest&)>;
// Replaces every modal box of the program while set.
void SetMessageBoxHook(MessageBoxHook hook);
BoxResult ShowMessageBox(QWidget* parent, const MessageBoxRequest& box);
// Shows an informing box without waiting for it (the hook is not asked: the
// box needs no answer). While a box with the same caption and text is still
// open, no second one opens; it is raised instead. Returns the box.
QWidget* ShowNoticeBox(QWidget* parent, const MessageBoxRequest& box);

}  // namespace raid
