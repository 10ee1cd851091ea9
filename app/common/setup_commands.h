// raidctl's commands of the Setup page: the schedule backup, media scans and
// the array initialisation. They run the page's own logic on the core, so
// the requests, texts and results are the window's. raidctl runs them on a
// core of its own; the monitor service runs them on its core for a client,
// in two halves around the status thread's serving of the request, and
// sends back what raidctl would have printed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "maintenance/enclosure_verbs.h"
#include "maintenance/firmware_upgrade.h"
#include "monitor/raid_core.h"

namespace CLI {
class App;
}

namespace raid {

class CommandLine;

struct SetupCommand {
  std::string command;  // schedule, scan, initialize
  bool on = false;      // schedule on / off
  int period = 0;       // minutes; 0: keep the enclosure's
  bool stop = false;    // scan stop / start
  int drive = 0;        // 1 HDD1, 2 HDD2
  bool destroyConfirmed = false;
  int slot = 0;
};

bool IsSetupCommand(const std::string& command);
// --slot's text: a slot number 0-7 into slot, or the mistake.
std::string ReadSlot(const std::string& text, int& slot);

// The three commands in raidctl's command-line table; the values are kept
// here until Finish.
class SetupTable {
 public:
  void Add(CommandLine& line, CLI::App& root);
  // After a parse that chose one of them: the command, or the mistake
  // (empty when there is none).
  std::string Finish(const CommandLine& line, SetupCommand& out) const;

 private:
  std::string onOff_, startStop_, period_, drive_, slot_[3];
  bool destroy_ = false;
};
// Where a command's texts go: standard output and standard error, or a
// client's answer.
class CommandOutput {
 public:
  virtual ~CommandOutput() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
};

class StdioOutput final : public CommandOutput {
 public:
  // flushEach: every text is written at once (a command's lines as they
  // come); else standard output is written in blocks, flushed before a
  // text on standard error, so a reader that stops early (| grep -q)
  // rarely cuts a short listing.
  explicit StdioOutput(bool flushEach = true) : flushEach_(flushEach) {}
  void Out(const std::string& text) override;
  void Err(const std::string& text) override;

 private:
  bool flushEach_;
};

class BufferedOutput final : public CommandOutput {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  std::string out, err;
};

// How raidctl prints the core's texts: a status-bar text worth a line
// (panel 4, an image sum in panel 0) and a message box, each as one line;
// "" for a text that is not printed.
std::string CommandPanelLine(StatusBarPanel panel, const std::string& text);
std::string CommandBoxLine(const MessageBoxRequest& box);

// A command's view of the core: those lines go to the command's output;
// every question is answered no.
class CommandView final : public CoreView {
 public:
  explicit CommandView(CommandOutput& out) : out_(out) {}
  void SetPanelText(StatusBarPanel panel, const std::string& text) override;
  std::string PanelText(StatusBarPanel panel) const override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  // Every box shown, in order (a window that asked the monitor service
  // shows them as the window's own operation would have).
  std::vector<MessageBoxRequest> Boxes;

 private:
  CommandOutput& out_;
  std::string panels_[kStatusBarPanels];
};

// The first half, after the enclosure's line (SetupHeader): the request
// queued, or the command refused. exit >= 0: the command has ended with that code;
// otherwise it waits for the status thread to serve `waitBit`
// (request_bits). Not for initialize (see RunSetupCommand).
struct SetupStart {
  int exit = -1;
  uint8_t waitBit = 0;
  uint8_t minutes = 0;  // schedule on: the period sent
};
// Both read the slot's status record as the core has it (a poll's, or one
// read just now).
SetupStart StartSetupCommand(RaidCore& core, EnclosureVerbs& verbs, const SetupCommand& c, CommandOutput& out);
// The second half, once the request was served; sent: whether it went out.
int FinishSetupCommand(EnclosureVerbs& verbs, const SetupCommand& c, const SetupStart& start, bool sent,
                       CommandOutput& out);
// The enclosure's line every command prints first, e.g. "Device1: PD0,
// vendor1, firmware 100607.1, Mirroring(RAID1), 931 GB".
void SetupHeader(const RaidCore& core, int slot, CommandOutput& out);
// The line an upgrade prints first, e.g. "Device1: PD0, vendor1, firmware
// 100607.1".
void UpgradeHeader(const RaidCore& core, int slot, CommandOutput& out);
// An upgrade's progress as raidctl draws it on a terminal:
// "TEXT CAPTION [####....]  45%", and the percentage of a model.
std::string UpgradeProgressLine(const std::string& text, const std::string& caption, int percent);
int UpgradePercent(uint32_t value, uint32_t max);
// The slot check and the enclosure's line every command starts with; -1 when
// the command goes on, else its exit code.
int SetupPreamble(const RaidCore& core, const SetupCommand& c, CommandOutput& out);

// Runs it on a core of its own whose detection has been published (raidctl):
// reads the slot's record once, then both halves with the request served
// on this thread. view: the core's view, whose texts go to `stdout` of the
// command while it runs (set through switchOutput). Exit code.
int RunSetupCommand(RaidCore& core, FirmwareUpgrade& framing, CoreView& view, const SetupCommand& c, CommandOutput& out,
                    const std::function<void(bool commandRuns)>& switchOutput = nullptr);

}  // namespace raid
