// The program's main window: the drive list, the source / target selection, the kind of system
// to build, the Photo partition size, the action buttons, the log list and the progress bar.
// Every action runs one disk operation between DisableAllControls and RefreshDriveList +
// UpdateButtons; the front-ends only translate, the operations hold the disk logic.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "drives/drive_status.h"
#include "gui/qt_front_end.h"
#include "gui/safety_panel.h"
#include "ops/operations.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLayout;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillmar {

class CQuillmarDlg : public QDialog {
  Q_OBJECT

 public:
  // prompt_delegate: who answers boxes, questions and file choices instead of Qt's dialogs
  // (the scripted front-end of the tests); nullptr for the real window.
  explicit CQuillmarDlg(QWidget* parent = nullptr, FrontEnd* prompt_delegate = nullptr);
  ~CQuillmarDlg() override;
  CQuillmarDlg(const CQuillmarDlg&) = delete;
  CQuillmarDlg& operator=(const CQuillmarDlg&) = delete;

  int sourceDrive() const { return m_nSourceDrive; }
  int targetDrive() const { return m_nTargetDrive; }
  int systemType() const { return m_nSystemType; }
  const QString& sourceLabel() const { return m_strSource; }
  const QString& targetLabel() const { return m_strTarget; }
  // True while an operation (or the first drive scan) runs; a close request waits for it.
  bool operationRunning() const { return m_nOperationDepth > 0; }
  // The drive list's pictures, in image-list order (DriveImage).
  const QIcon& driveImage(int image) const { return m_imageList.at(image); }
  const QIcon& windowIconImage() const { return m_hIcon; }
  QtFrontEnd& frontEnd() { return *m_frontEnd; }

  // Opens the about box (context menu, F1 and the small button next to Exit).
  void OnAboutBox();
  // Probes the drives again (F5 and the context menu), for disks plugged in after the start;
  // the source, the target and the selected row stay while the same disks are at their indexes.
  void OnRescan();

 protected:
  // Every close request (Exit, Esc, Enter, the close box) arrives here; one made during an
  // operation (only the close box can) waits for its end.
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class OperationScope;

  void CreateControls();
  QLayout* ArrangeControls();
  void SetTabOrder();
  void OnInitDialog();
  void InitDriveList();
  void SizeDriveListColumns();
  void ShowDevicePath(QTreeWidgetItem* row, const DriveInfo& drive);
  void CreateRescanAction();
  void KeepSameDisks(const std::array<DriveInfo, kMaxDrives>& before, int row);

  void OnTimer();
  void RefreshDriveList();
  bool DrivesAsListed();
  void ForgetChosenDrives();
  void UpdateButtons();
  void DisableAllControls();
  void ReadControls();
  void WriteControls();

  void OnSetSource();
  void OnSetTarget();
  void SetDrive(int* index, QString* label);
  int SelectedDriveAfterWarning();
  void OnSystemType();
  void ShowSystemTypeCaptions();

  template <typename Operation>
  void RunOperation(Operation operation);
  // An operation that asks first and calls its start callback only when it begins to copy.
  using FileOperation = std::function<void(const OperationStart&)>;
  void RunFileOperation(FileOperation operation);
  void OnCopySystem();
  void OnCopyMpeg();
  void OnCopyPhoto();
  void OnPatch();
  void OnBackup();
  void OnRestore();
  void OnCopyLog();
  uint32_t SelectedPhotoSize() const;
  void EndOperation();

  // Controls, named by their identifiers.
  QTreeWidget* m_driveList = nullptr;     // IDC_DRIVE_LIST
  QGroupBox* m_sourceGroup = nullptr;     // IDC_SOURCE_GROUP
  QLabel* m_sourceText = nullptr;         // IDC_SOURCE_TEXT
  QPushButton* m_setSource = nullptr;     // IDC_SET_SOURCE
  QGroupBox* m_targetGroup = nullptr;     // IDC_TARGET_GROUP
  QLabel* m_targetText = nullptr;         // IDC_TARGET_TEXT
  QPushButton* m_setTarget = nullptr;     // IDC_SET_TARGET
  QGroupBox* m_systemGroup = nullptr;     // "Desired ReplayTV System"
  QRadioButton* m_singleDrive = nullptr;  // IDC_SINGLE_DRIVE
  QRadioButton* m_dualDrive = nullptr;    // IDC_DUAL_DRIVE
  QButtonGroup* m_systemButtons = nullptr;
  QGroupBox* m_photoGroup = nullptr;    // "Photo partition size"
  QComboBox* m_photoSize = nullptr;     // IDC_PHOTO_SIZE
  QGroupBox* m_actionGroup = nullptr;   // "Action"
  QPushButton* m_copySystem = nullptr;  // IDC_COPY_SYSTEM
  QPushButton* m_copyMpeg = nullptr;    // IDC_COPY_MPEG
  QPushButton* m_copyPhoto = nullptr;   // IDC_COPY_PHOTO
  QPushButton* m_patch = nullptr;       // IDC_PATCH
  QPushButton* m_backup = nullptr;      // IDC_BACKUP
  QPushButton* m_restore = nullptr;     // IDC_RESTORE
  SafetyPanel* m_safety = nullptr;      // undo file and verification choices, "Undo from file..."
  QPushButton* m_exit = nullptr;        // IDCANCEL
  QLabel* m_logLabel = nullptr;         // "Log Messages"
  QPushButton* m_copyLog = nullptr;     // IDC_COPY_LOG
  QListWidget* m_log = nullptr;         // IDC_LOG
  QProgressBar* m_progress = nullptr;   // IDC_PROGRESS
  QPushButton* m_cancelCopy = nullptr;  // stops a running copy
  QAction* m_aboutAction = nullptr;     // "&About Quillmar..."
  QAction* m_rescanAction = nullptr;    // "&Rescan drives" (F5)
  QToolButton* m_aboutButton = nullptr;

  int m_nSystemType = 0;  // 0 single-drive system, 1 dual-drive system
  QString m_strSource;
  QString m_strTarget;
  int m_nSourceDrive = -1;
  int m_nTargetDrive = -1;
  QTimer* m_nTimer = nullptr;  // the one-shot start-up tick
  QIcon m_hIcon;
  std::array<QIcon, kDriveImageCount> m_imageList;
  std::unique_ptr<QtFrontEnd> m_frontEnd;

  int m_nOperationDepth = 0;
  std::optional<int> m_pendingClose;  // the result of a close request made during an operation
};

}  // namespace quillmar
