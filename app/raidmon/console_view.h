// raidmon's view of the core: every line appended to the day log goes to
// standard output as it is appended; status and message texts go to
// standard error. Nothing waits for an answer.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "monitor/core_view.h"

namespace raid {

class ConsoleView final : public CoreView {
 public:
  explicit ConsoleView(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
  void SetPanelText(int panel, const std::string& text) override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void LogLineAppended(const std::string& line) override;
  void DetectTextChanged(const std::string& text, bool visible) override;
  // The mail sender's texts ("Send mail Success!", a failure and its
  // reason); safe from any thread.
  void MailStatus(const std::string& text);

 private:
  std::FILE* out_;
  std::FILE* err_;
  std::string lastPanel4_;
};

}  // namespace raid
