// What every test of the window needs: a clean process state, a temporary folder for image
// drives and the log file, the window itself with the scripted front-end answering its boxes,
// questions and file choices, and ways to click its controls as a user would.
#pragma once

#include <QObject>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/quillmar_dlg.h"
#include "tests/support/disk_image.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// The scripted front-end, plus a hook that runs at every box, question and file choice, while
// the operation that asked is still running (to look at the window at that moment).
class ObservedFrontEnd : public ScriptedFrontEnd {
 public:
  explicit ObservedFrontEnd(const std::string& log_path) : ScriptedFrontEnd(true, log_path) {}
  std::function<void()> on_prompt;

  void ShowMessage(const std::string& text, const std::string& caption) override;
  int AskYesNo(const std::string& text, const std::string& caption) override;
  int AskWindowYesNo(const std::string& text, const std::string& caption) override;
  bool ChooseFile(const FileChoiceRequest& request, std::string* path) override;

 private:
  void Notify() const;
};

// Failures that support code (scripted front-end, fixture builder) reports through GoogleTest
// outside a GoogleTest run; a test passes only if this count did not grow.
int SupportFailureCount();

// One test's world. Build image files in dir() first, then Open() the window on them.
class GuiSession {
 public:
  GuiSession();
  ~GuiSession();
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;

  const TempDir& dir() const { return dir_; }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Maps the drives, creates the window with the scripted front-end, shows it and waits for
  // the first tick (the drive scan). False when the scan did not happen.
  bool Open(const std::vector<std::string>& drives);
  // Creates and shows the window without waiting for the first tick.
  void OpenWithoutWaiting(const std::vector<std::string>& drives);
  bool WaitForFirstScan();

  CQuillmarDlg& dlg() { return *dlg_; }
  ObservedFrontEnd& ui() { return *ui_; }
  QTreeWidget* DriveList();
  QPushButton* Button(const char* id);
  template <typename T>
  T* Control(const char* id) {
    return dlg_->findChild<T*>(QString::fromLatin1(id));
  }

  // Clicks a row of the drive list (or clears the selection for -1).
  void SelectRow(int row);
  // Clicks a control with the mouse, as a user would.
  void Click(const char* id);
  void SetSource(int row);
  void SetTarget(int row);
  // Picks a system type with its radio button.
  void ChooseSystem(int type);
  QStringList LogLines();
  bool LogContains(const QString& text);

 private:
  TempDir dir_;
  std::unique_ptr<ObservedFrontEnd> ui_;
  std::unique_ptr<CQuillmarDlg> dlg_;
};

}  // namespace quillmar::testing

namespace quillmar::testing {

// Base of the window's test classes: a fresh session for every test function, and at its end
// a check that support code reported no failure meanwhile.
class SessionTest : public QObject {
  Q_OBJECT

 protected:
  std::unique_ptr<GuiSession> session_;
  std::vector<std::string> drives_;

 private slots:
  void init();
  void cleanup();

 private:
  int support_failures_ = 0;
};

// The drives most window tests list (sizes in sectors; all sparse image files):
//   0 old.img      ReplayTV, standard order, 40,000,000 with a 30,000,000 layout: needs patching
//   1 missing.img  no such file: "Empty"
//   2 rtv4000.img  RTV4000 order, 80,000,000, patched, Photo partition of 204,800
//   3 pc.img       a PC disk with a Linux partition, 4,000,000
//   4 pair1.img    disk 1 of a two-drive system, 40,000,000
//   5 pair2.img    disk 2 of it, 60,000,000
//   6 blank.img    all zero, 100,000,000
enum SampleDrive { kOld = 0, kMissing, kRtv4000, kPc, kPair1, kPair2, kBlank };
// Builds them in the session's folder and opens the window on them; false (with the cause as a
// warning) when a builder failed or the first scan did not come.
bool OpenSampleDrives(GuiSession* session, std::vector<std::string>* paths);

}  // namespace quillmar::testing
