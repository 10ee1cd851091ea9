// The main window on a simulated machine, offscreen, for the window tests:
// a folder of its own for logs and mail settings, message boxes answered in
// advance and recorded, and the program run by hand in 50 ms steps.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/main_window.h"

namespace raid::test {

struct WindowOptions {
  // The simulated machine: empty for the built-in enclosure, JSON text, or
  // "@path" for a scenario file.
  std::string scenario;
  // Program time run once the window is up (0: none, the test starts it).
  int64_t settleMs = 3000;
  // Runs ahead of the window's creation (service mode and the like).
  std::function<void(MainWindow&)> before;

  WindowOptions& Scenario(std::string s) {
    scenario = std::move(s);
    return *this;
  }
  WindowOptions& Settle(int64_t ms) {
    settleMs = ms;
    return *this;
  }
  WindowOptions& Before(std::function<void(MainWindow&)> fn) {
    before = std::move(fn);
    return *this;
  }
};

struct SimulatedWindow {
  // prefix names the temporary folder (logs and mail settings live there).
  explicit SimulatedWindow(const std::string& prefix, WindowOptions o = {}) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps two runs of one test (at 100 % and 200 %, side
    // by side under ctest -j) out of each other's folder.
    dir = std::filesystem::temp_directory_path() /
          (prefix + "-" + std::string(info->name()) + "-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "logs");
    ProgramOptions opt;
    opt.simulate = true;
    if (o.scenario.rfind("@", 0) == 0) {
      opt.scenario = o.scenario.substr(1);
    } else if (!o.scenario.empty()) {
      opt.scenario = (dir / "scenario.json").string();
      std::ofstream(opt.scenario) << o.scenario;
    }
    std::string error;
    EXPECT_TRUE(BuildMachine(opt, machine, error)) << error;
    SetMessageBoxHook([this](const MessageBoxRequest& b) {
      boxes.push_back(b);
      return b.buttons == BoxButtons::YesNo ? answer : BoxResult::Ok;
    });
    form = std::make_unique<MainWindow>(machine, (dir / "logs").string(), nullptr, (dir / "config").string());
    if (o.before) o.before(*form);
    form->FormCreate(false);
    form->show();
    Run(o.settleMs);
  }
  ~SimulatedWindow() {
    form->close();
    form.reset();
    SetMessageBoxHook(nullptr);
    std::filesystem::remove_all(dir);
  }
  void Run(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 50) {
      form->Runtime().StepFor(50);
      QCoreApplication::processEvents();
    }
  }
  template <typename T>
  T* Find(const char* name) {
    T* w = form->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const char* name) { Find<QAbstractButton>(name)->click(); }

  std::filesystem::path dir;
  Machine machine;
  std::vector<MessageBoxRequest> boxes;
  BoxResult answer = BoxResult::No;  // the answer to Yes/No boxes
  std::unique_ptr<MainWindow> form;
};

}  // namespace raid::test
