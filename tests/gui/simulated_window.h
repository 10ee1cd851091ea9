// The main window on the built-in simulated enclosure, offscreen, for the
// page tests: a log folder of its own, message boxes answered in advance
// and recorded, and the program run by hand in 50 ms steps.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/common/options.h"
#include "app/raidgui/message_box.h"
#include "app/raidgui/tform1.h"

namespace raid::test {

struct SimulatedWindow {
  // prefix names the temporary folder; before runs ahead of the window's
  // creation (service mode and the like).
  explicit SimulatedWindow(const std::string& prefix, const std::function<void(TForm1&)>& before = nullptr) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / (prefix + "-" + std::string(info->name()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "logs");
    ProgramOptions opt;
    opt.simulate = true;
    std::string error;
    EXPECT_TRUE(BuildMachine(opt, machine, error)) << error;
    SetMessageBoxHook([this](const MessageBoxRequest& b) {
      boxes.push_back(b);
      return b.buttons == BoxButtons::YesNo ? answer : BoxResult::Ok;
    });
    form = std::make_unique<TForm1>(machine, (dir / "logs").string());
    if (before) before(*form);
    form->FormCreate(false);
    form->show();
    Run(3000);
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
  std::unique_ptr<TForm1> form;
};

}  // namespace raid::test
