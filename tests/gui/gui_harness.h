// What every test of the window needs: a clean process state, a folder for image drives and the
// log file, the real window, and a user who clicks its controls and answers its real message
// boxes and file dialogs from a script, noting what each one showed.
#pragma once

#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "disk/drive_table.h"
#include "gui/quillmar_dlg.h"
#include "tests/support/disk_image.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// The controls an operation disables; the enabling rules decide the first seven.
inline const char* const kControls[] = {
    "IDC_BACKUP",       "IDC_RESTORE",    "IDC_PHOTO_SIZE", "IDC_COPY_PHOTO", "IDC_PATCH",
    "IDC_COPY_SYSTEM",  "IDC_COPY_MPEG",  "IDC_SET_SOURCE", "IDC_SET_TARGET", "IDCANCEL",
    "IDC_SINGLE_DRIVE", "IDC_DUAL_DRIVE", "IDC_COPY_LOG",   "IDC_UNDO"};
inline const QString kAllDisabled(static_cast<int>(std::size(kControls)), '0');

// The sample drives (sizes in sectors; sparse image files), and a missing one after the last.
enum Sample {
  kOld,      // ReplayTV, 40,000,000 with a 30,000,000 layout: needs patching
  kMissing,  // no such file: "Empty"
  kRtv4000,  // RTV4000 order, 80,000,000 with a 60,000,000 layout, Photo partition of 204,800
  kPc,       // a PC disk with a Linux partition, 4,000,000
  kPair1,    // disk 1 of a two-drive system, 40,000,000
  kPair2,    // its disk 2, 60,000,000
  kBlank,    // all zero, 100,000,000
  kSamples
};

inline bool MakeSamples(const TempDir& at) {
  ReplayTvDisk old, rtv4000, pair;
  old.disk_sectors = pair.disk_sectors = 40000000;
  old.layout_sectors = 30000000;
  rtv4000.disk_sectors = 80000000;
  rtv4000.rtv4000 = true;
  rtv4000.layout_sectors = 60000000;
  rtv4000.photo_sectors = 204800;
  return MakeReplayTvDisk(at.File("old"), old) && MakeReplayTvDisk(at.File("rtv4000"), rtv4000) &&
         MakePcDisk(at.File("pc"), 4000000, PcDisk::kLinux) &&
         MakeReplayTvPair(at.File("pair1"), at.File("pair2"), pair, 60000000) &&
         MakeBlankImage(at.File("blank"), 100000000);
}

class Session {
 public:
  Session() {
    SetDrivePaths({});
    QObject::connect(&poll_, &QTimer::timeout, [this] { AnswerModal(); });
    poll_.start(2);
  }
  ~Session() {
    dlg.reset();
    ResetLogFacility();
    ResetDriveTable();
    ResetSettings();
  }

  TempDir dir;
  std::vector<std::string> drives;
  std::unique_ptr<CQuillmarDlg> dlg;
  QStringList seen;         // every prompt shown: "Caption|text", or "Title (save) filters"
  QStringList at_prompts;   // Enabled() at each of them
  QStringList during_copy;  // Enabled() at each step of the progress bar

  // Shows the window on the drives; waits for the first scan unless told not to.
  bool Open(const std::vector<std::string>& paths, bool wait = true) {
    SetDrivePaths(drives = paths);
    SetLogFilePath(dir.File("quillmar.log"));
    dlg = std::make_unique<CQuillmarDlg>();
    QObject::connect(Get<QProgressBar>("IDC_PROGRESS"), &QProgressBar::valueChanged, dlg.get(),
                     [this] { during_copy << Enabled(); });
    dlg->show();
    return !wait || QTest::qWaitFor([this] { return List()->topLevelItemCount() > 0; }, 10000);
  }

  // The sample drives, made once and copied for each session.
  bool OpenSamples(bool wait = true) {
    static const TempDir made;
    static const bool ok = MakeSamples(made);
    std::vector<std::string> paths;
    for (const char* name :
         {"old", "missing", "rtv4000", "pc", "pair1", "pair2", "blank", "gone"}) {
      paths.push_back(dir.File(name));
      if (FileSize(made.File(name)) >= 0 && !CopyImage(made.File(name), paths.back()))
        return false;
    }
    return ok && Open(paths, wait);
  }

  template <typename T = QWidget>
  T* Get(const char* id) {
    return dlg->findChild<T*>(QString::fromLatin1(id));
  }
  QTreeWidget* List() { return Get<QTreeWidget>("IDC_DRIVE_LIST"); }

  // "1" for each enabled control of kControls.
  QString Enabled() {
    QString pattern;
    for (const char* id : kControls)
      pattern += Get(id)->isEnabled() ? '1' : '0';
    return pattern;
  }

  // Clicks a control with the mouse (a radio button or check box on its box), as a user would.
  void Click(const char* id) {
    QWidget* control = Get(id);
    const int half = control->height() / 2;
    const bool box = control->inherits("QRadioButton") || control->inherits("QCheckBox");
    QTest::mouseClick(control, Qt::LeftButton, {},
                      box ? QPoint(half, half) : control->rect().center());
  }
  // Clicks a row of the drive list (-1: clears the selection), then the button.
  void Set(const char* button, int row) {
    if (row < 0)
      List()->clearSelection();
    else
      QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                        List()->visualItemRect(List()->topLevelItem(row)).center());
    if (button != nullptr)
      Click(button);
  }
  void ChooseSystem(int type) { Click(type == 0 ? "IDC_SINGLE_DRIVE" : "IDC_DUAL_DRIVE"); }

  // Clicks a button with the prompts to come scripted as "expected=answer;...": expected starts
  // what a prompt shows; the answer is yes, no, ok, esc, a file name in the session's folder, or
  // nothing to cancel a file dialog. "" when the prompts were the script's, else what was shown.
  QString Run(const char* button, const QString& script) {
    script_ = script.split(';', Qt::SkipEmptyParts);
    seen.clear();
    at_prompts.clear();
    during_copy.clear();
    Click(button);
    bool same = seen.size() == script_.size();
    for (qsizetype i = 0; same && i < seen.size(); ++i)
      same = seen[i].startsWith(script_[i].section('=', 0, -2));
    return same ? QString() : "shown:\n" + seen.join("\n");
  }

  QStringList Log() {
    QStringList lines;
    for (int i = 0; i < Get<QListWidget>("IDC_LOG")->count(); ++i)
      lines << Get<QListWidget>("IDC_LOG")->item(i)->text();
    return lines;
  }
  std::vector<uint64_t> Hashes() {
    std::vector<uint64_t> hashes;
    for (const std::string& path : drives)
      hashes.push_back(FileSize(path) < 0 ? 0 : ImageHash(path));
    return hashes;
  }

 private:
  // A box shows its text as it stands: plain, no icon, every line whole on one line. A prompt
  // past the script is answered no (a box: ok; a file dialog: cancel).
  void AnswerModal() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (box == nullptr && files == nullptr)
      return;
    const QString answer =
        seen.size() < script_.size() ? script_[seen.size()].section('=', -1) : "";
    at_prompts << Enabled();
    if (files != nullptr) {
      const bool save = files->acceptMode() == QFileDialog::AcceptSave;
      seen << files->windowTitle() + (save ? " (save) " : " (open) ") +
                  files->nameFilters().join(", ");
      files->selectFile(QString::fromStdString(dir.File(answer.toStdString())));
      return static_cast<void>(
          QMetaObject::invokeMethod(files, answer.isEmpty() ? "reject" : "accept"));
    }
    bool plain = box->icon() == QMessageBox::NoIcon && box->textFormat() == Qt::PlainText;
    auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    for (const QString& line : box->text().split('\n'))
      plain =
          plain && label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width();
    seen << (plain ? "" : "NOT PLAIN ") + box->windowTitle() + "|" + box->text();
    QAbstractButton* button = box->button(answer == "yes"  ? QMessageBox::Yes
                                          : answer == "ok" ? QMessageBox::Ok
                                                           : QMessageBox::No);
    if (button != nullptr && answer != "esc")
      return button->click();
    QTest::keyClick(box, Qt::Key_Escape);
  }

  QTimer poll_;
  QStringList script_;
};

}  // namespace quillmar::testing
