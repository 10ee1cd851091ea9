// Modal message boxes of the window. Tests answer them in advance through
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

}  // namespace raid
