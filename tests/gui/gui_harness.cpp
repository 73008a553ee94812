#include "tests/gui/gui_harness.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QRadioButton>
#include <QTest>

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "disk/drive_table.h"

namespace quillmar::testing {
namespace {

constexpr int kFirstScanTimeoutMs = 10000;

void ResetProcessState() {
  ResetLogFacility();
  ResetDriveTable();
  ResetSettings();
  SetDrivePaths({});
}

}  // namespace

void ObservedFrontEnd::Notify() const {
  if (on_prompt)
    on_prompt();
}

void ObservedFrontEnd::ShowMessage(const std::string& text, const std::string& caption) {
  Notify();
  ScriptedFrontEnd::ShowMessage(text, caption);
}

int ObservedFrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  Notify();
  return ScriptedFrontEnd::AskYesNo(text, caption);
}

int ObservedFrontEnd::AskWindowYesNo(const std::string& text, const std::string& caption) {
  Notify();
  return ScriptedFrontEnd::AskWindowYesNo(text, caption);
}

bool ObservedFrontEnd::ChooseFile(const FileChoiceRequest& request, std::string* path) {
  Notify();
  return ScriptedFrontEnd::ChooseFile(request, path);
}

int SupportFailureCount() {
  const ::testing::TestResult& result = ::testing::UnitTest::GetInstance()->ad_hoc_test_result();
  int failures = 0;
  for (int i = 0; i < result.total_part_count(); ++i) {
    if (result.GetTestPartResult(i).failed())
      ++failures;
  }
  return failures;
}

GuiSession::GuiSession() {
  ResetProcessState();
}

GuiSession::~GuiSession() {
  dlg_.reset();
  ui_.reset();
  ResetProcessState();
}

void GuiSession::OpenWithoutWaiting(const std::vector<std::string>& drives) {
  SetDrivePaths(drives);
  ui_ = std::make_unique<ObservedFrontEnd>(dir_.File("quillmar.log"));
  dlg_ = std::make_unique<CQuillmarDlg>(nullptr, ui_.get());
  dlg_->show();
}

bool GuiSession::WaitForFirstScan() {
  return QTest::qWaitFor([this] { return DriveList()->topLevelItemCount() > 0; },
                         kFirstScanTimeoutMs);
}

bool GuiSession::Open(const std::vector<std::string>& drives) {
  OpenWithoutWaiting(drives);
  return WaitForFirstScan();
}

QTreeWidget* GuiSession::DriveList() {
  return Control<QTreeWidget>("IDC_DRIVE_LIST");
}

QPushButton* GuiSession::Button(const char* id) {
  return Control<QPushButton>(id);
}

void GuiSession::SelectRow(int row) {
  QTreeWidget* list = DriveList();
  if (row < 0) {
    list->clearSelection();
    return;
  }
  QTreeWidgetItem* item = list->topLevelItem(row);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(item).center());
}

void GuiSession::Click(const char* id) {
  QWidget* control = dlg_->findChild<QWidget*>(QString::fromLatin1(id));
  if (control == nullptr) {
    ADD_FAILURE() << "no control " << id;
    return;
  }
  // A radio button reacts only on its indicator and text, not on the rest of its row.
  const QPoint point = qobject_cast<QRadioButton*>(control) != nullptr
                           ? QPoint(control->height() / 2, control->height() / 2)
                           : control->rect().center();
  QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, point);
}

void GuiSession::SetSource(int row) {
  SelectRow(row);
  Click("IDC_SET_SOURCE");
}

void GuiSession::SetTarget(int row) {
  SelectRow(row);
  Click("IDC_SET_TARGET");
}

void GuiSession::ChooseSystem(int type) {
  Click(type == 0 ? "IDC_SINGLE_DRIVE" : "IDC_DUAL_DRIVE");
}

QStringList GuiSession::LogLines() {
  QListWidget* log = Control<QListWidget>("IDC_LOG");
  QStringList lines;
  for (int i = 0; i < log->count(); ++i)
    lines << log->item(i)->text();
  return lines;
}

bool GuiSession::LogContains(const QString& text) {
  return LogLines().contains(text);
}

}  // namespace quillmar::testing

namespace quillmar::testing {

bool OpenSampleDrives(GuiSession* session, std::vector<std::string>* paths) {
  paths->clear();
  for (const char* name :
       {"old.img", "missing.img", "rtv4000.img", "pc.img", "pair1.img", "pair2.img", "blank.img"}) {
    paths->push_back(session->File(name));
  }
  ReplayTvDisk old;
  old.disk_sectors = 40000000;
  old.layout_sectors = 30000000;
  ReplayTvDisk rtv4000;
  rtv4000.disk_sectors = 80000000;
  rtv4000.rtv4000 = true;
  rtv4000.photo_sectors = 204800;
  ReplayTvDisk first;
  first.disk_sectors = 40000000;
  const ::testing::AssertionResult results[] = {
      MakeReplayTvDisk((*paths)[kOld], old),
      MakeReplayTvDisk((*paths)[kRtv4000], rtv4000),
      MakePcDisk((*paths)[kPc], 4000000, PcDisk::kLinux),
      MakeReplayTvPair((*paths)[kPair1], (*paths)[kPair2], first, 60000000),
      MakeBlankImage((*paths)[kBlank], 100000000),
  };
  for (const ::testing::AssertionResult& result : results) {
    if (!result) {
      qWarning("%s", result.message());
      return false;
    }
  }
  return session->Open(*paths);
}

void SessionTest::init() {
  support_failures_ = SupportFailureCount();
  session_ = std::make_unique<GuiSession>();
}

void SessionTest::cleanup() {
  session_.reset();
  QCOMPARE(SupportFailureCount(), support_failures_);
}

}  // namespace quillmar::testing
