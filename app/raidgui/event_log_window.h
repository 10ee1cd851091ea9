// EventLogWindow, the "Event Log" window: a modal dialog that follows the day log in
// real time or shows a log file chosen from disk.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "monitor/log_window.h"
#include "monitor/raid_core.h"

namespace raid {

class EventLogWindow : public QDialog {
  Q_OBJECT
 public:
  // dayLog: the lines to follow; null: the core's day log (else the
  // monitor service's, as the main window hears them).
  EventLogWindow(RaidCore& core, QWidget* parent = nullptr, const std::vector<std::string>* dayLog = nullptr);

  // Picks the file for "View Log File", starting in the given folder (the
  // day log folder); returns "" when cancelled. Tests replace the file
  // dialog with their own answer.
  static std::function<std::string(QWidget*, const std::string&)>& FileChooser();

  void OnFollowTimer();
  void RealTimeLogClick();
  void ViewLogFileClick();
  LogWindowModel& Model() { return model_; }
  QPlainTextEdit* LogText() const { return logText_; }
  QTimer& FollowTimer() { return followTimer_; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void Render();
  // The text the log view shows for a log line: a separator of dashes
  // longer than the view is wide is shortened to its width (it only
  // separates), every other line is shown whole and wraps.
  QString Shown(const std::string& line) const;

  RaidCore& core_;
  LogWindowModel model_;
  QPlainTextEdit* logText_;
  QPushButton* realTimeButton_;
  QPushButton* viewFileButton_;
  QTimer followTimer_;
  uint64_t renderedResets_ = ~0ull;
  size_t renderedLines_ = 0;
};

// The windows that exist but have no control that shows them here (the
// image builder ImageBuilderWindow is app/raidgui/image_builder_window.h, owned by the main window).
class GoToWindow : public QDialog {
 public:
  explicit GoToWindow(QWidget* parent = nullptr);
};
class EmailWindow : public QDialog {
 public:
  explicit EmailWindow(QWidget* parent = nullptr);
};

}  // namespace raid
