#include "gui/quillmar_dlg.h"

#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/build_info.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/shown_path.h"
#include "disk/copy_stop.h"
#include "disk/drive_map.h"
#include "drives/classify.h"
#include "drives/rights_notice.h"
#include "gui/about_dlg.h"
#include "gui/drive_list_view.h"
#include "gui/progress_row.h"
#include "ops/drive_checks.h"
#include "ops/operations.h"
#include "ops/photo_sizes.h"
#include "ops/safety_nets.h"

// The icons live in res/quillmar.qrc, compiled into the window's library; a static library's
// resources are registered by name, from the global namespace.
static void RegisterQuillmarResources() {
  Q_INIT_RESOURCE(quillmar);
}

namespace quillmar {
namespace {

constexpr int kStartupTickMs = 100;

QIcon LoadIcon(const QString& name) {
  QIcon icon;
  for (int size : {16, 32}) {
    icon.addFile(QString(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
  }
  return icon;
}

QPushButton* MakeButton(const char* text, const char* id, QWidget* parent) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(id));
  return button;
}

QGroupBox* MakeGroup(const char* title, const char* id, QWidget* parent) {
  auto* group = new QGroupBox(QString::fromLatin1(title), parent);
  group->setObjectName(QString::fromLatin1(id));
  return group;
}

// The sunken label that shows the selected source or target drive.
QLabel* MakeDriveLabel(const char* id, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(id));
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  label->setMargin(2);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  return label;
}

}  // namespace

// Marks an operation as running for as long as it exists: a close request made meanwhile is kept
// and honoured when the outermost operation and its closing refresh have returned.
class CQuillmarDlg::OperationScope {
 public:
  explicit OperationScope(CQuillmarDlg* dlg) : dlg_(dlg) { ++dlg_->m_nOperationDepth; }
  ~OperationScope() { dlg_->EndOperation(); }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  CQuillmarDlg* dlg_;
};

CQuillmarDlg::CQuillmarDlg(QWidget* parent, FrontEnd* prompt_delegate) : QDialog(parent) {
  RegisterQuillmarResources();
  m_hIcon = LoadIcon("mainframe");
  CreateControls();
  setLayout(ArrangeControls());
  SetTabOrder();
  m_frontEnd = std::make_unique<QtFrontEnd>(this, m_log, m_progress, m_cancelCopy);
  m_frontEnd->SetPromptDelegate(prompt_delegate);
  OnInitDialog();
}

CQuillmarDlg::~CQuillmarDlg() {
  if (CurrentFrontEnd() == m_frontEnd.get())
    SetFrontEnd(nullptr);
}

void CQuillmarDlg::CreateControls() {
  setObjectName("IDD_MAIN");
  setWindowTitle("Quillmar");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);

  m_sourceText = MakeDriveLabel("IDC_SOURCE_TEXT", this);
  m_setSource = MakeButton("Set", "IDC_SET_SOURCE", this);
  m_sourceGroup = MakeGroup("Source Drive", "IDC_SOURCE_GROUP", this);
  m_targetText = MakeDriveLabel("IDC_TARGET_TEXT", this);
  m_setTarget = MakeButton("Set", "IDC_SET_TARGET", this);
  m_targetGroup = MakeGroup("Target Drive", "IDC_TARGET_GROUP", this);

  m_singleDrive = new QRadioButton("Single-drive system", this);
  m_singleDrive->setObjectName("IDC_SINGLE_DRIVE");
  m_dualDrive = new QRadioButton("Dual-drive system", this);
  m_dualDrive->setObjectName("IDC_DUAL_DRIVE");
  m_systemButtons = new QButtonGroup(this);
  m_systemButtons->addButton(m_singleDrive, 0);
  m_systemButtons->addButton(m_dualDrive, 1);
  m_systemGroup = MakeGroup("Desired ReplayTV System", "IDC_SYSTEM_GROUP", this);

  m_copySystem = MakeButton("Copy System Partition", "IDC_COPY_SYSTEM", this);
  m_copyMpeg = MakeButton("Copy MPEG Partition", "IDC_COPY_MPEG", this);
  m_patch = MakeButton("Patch Target Drive", "IDC_PATCH", this);
  m_exit = MakeButton("Exit", "IDCANCEL", this);
  m_actionGroup = MakeGroup("Action", "IDC_ACTION_GROUP", this);

  m_log = new QListWidget(this);
  m_log->setObjectName("IDC_LOG");
  m_log->setSelectionMode(QAbstractItemView::NoSelection);
  m_log->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_logLabel = new QLabel("Log Messages", this);
  m_logLabel->setObjectName("IDC_LOG_LABEL");

  m_backup = MakeButton("Backup Source Drive", "IDC_BACKUP", this);
  m_restore = MakeButton("Restore Target Drive", "IDC_RESTORE", this);
  m_safety = new SafetyPanel(this);

  m_progress = MakeProgressBar(this);
  m_cancelCopy = MakeCancelCopyButton(this);

  m_driveList = new QTreeWidget(this);
  m_driveList->setObjectName("IDC_DRIVE_LIST");
  m_driveList->setRootIsDecorated(false);
  m_driveList->setItemsExpandable(false);
  m_driveList->setUniformRowHeights(true);
  m_driveList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_driveList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_driveList->setAllColumnsShowFocus(true);
  m_driveList->header()->setSectionsClickable(false);
  m_driveList->header()->setSectionsMovable(false);

  m_copyLog = MakeButton("Copy log to clipboard", "IDC_COPY_LOG", this);
  m_photoSize = new QComboBox(this);
  m_photoSize->setObjectName("IDC_PHOTO_SIZE");
  m_photoGroup = MakeGroup("Photo partition size", "IDC_PHOTO_GROUP", this);
  m_copyPhoto = MakeButton("Copy Photo Partition", "IDC_COPY_PHOTO", this);

  m_aboutAction = new QAction(m_hIcon, "&About Quillmar...", this);
  m_aboutAction->setObjectName("IDM_ABOUTBOX");
  m_aboutAction->setShortcut(QKeySequence::HelpContents);
  addAction(m_aboutAction);
  CreateRescanAction();
  setContextMenuPolicy(Qt::ActionsContextMenu);
  m_aboutButton = new QToolButton(this);
  m_aboutButton->setObjectName("AboutButton");
  m_aboutButton->setDefaultAction(m_aboutAction);
  m_aboutButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_aboutButton->setAutoRaise(true);
  m_aboutButton->setToolTip("About Quillmar");

  // Template state: every button but Exit and Copy log starts disabled.
  for (QWidget* control : std::initializer_list<QWidget*>{
           m_setSource, m_setTarget, m_singleDrive, m_dualDrive, m_copySystem, m_copyMpeg, m_patch,
           m_backup, m_restore, m_photoSize, m_copyPhoto, m_safety}) {
    control->setEnabled(false);
  }

  connect(m_copyMpeg, &QPushButton::clicked, this, &CQuillmarDlg::OnCopyMpeg);
  connect(m_copySystem, &QPushButton::clicked, this, &CQuillmarDlg::OnCopySystem);
  connect(m_patch, &QPushButton::clicked, this, &CQuillmarDlg::OnPatch);
  connect(m_setSource, &QPushButton::clicked, this, &CQuillmarDlg::OnSetSource);
  connect(m_setTarget, &QPushButton::clicked, this, &CQuillmarDlg::OnSetTarget);
  connect(m_singleDrive, &QRadioButton::clicked, this, &CQuillmarDlg::OnSystemType);
  connect(m_backup, &QPushButton::clicked, this, &CQuillmarDlg::OnBackup);
  connect(m_restore, &QPushButton::clicked, this, &CQuillmarDlg::OnRestore);
  connect(m_copyLog, &QPushButton::clicked, this, &CQuillmarDlg::OnCopyLog);
  connect(m_copyPhoto, &QPushButton::clicked, this, &CQuillmarDlg::OnCopyPhoto);
  connect(m_dualDrive, &QRadioButton::clicked, this, &CQuillmarDlg::OnSystemType);
  connect(m_exit, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_aboutAction, &QAction::triggered, this, &CQuillmarDlg::OnAboutBox);
  connect(m_safety->undoButton(), &QPushButton::clicked, this,
          [this] { RunOperation([] { UndoFromChosenFile(); }); });
}

// Left: the drive list, the source and target groups, the log. Right: the system type, the Photo
// size, the actions and Exit. The drive list and the log take the window's extra room.
QLayout* CQuillmarDlg::ArrangeControls() {
  // The grid's two spacings differ, so the columns inside it cannot inherit one from it: they
  // take the style's own gap between stacked controls.
  const int style_gap = style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing);
  const int gap = style_gap >= 0 ? style_gap : 6;

  auto* source_row = new QHBoxLayout(m_sourceGroup);
  source_row->addWidget(m_sourceText, 1);
  source_row->addWidget(m_setSource);
  auto* target_row = new QHBoxLayout(m_targetGroup);
  target_row->addWidget(m_targetText, 1);
  target_row->addWidget(m_setTarget);

  auto* log_title = new QHBoxLayout;
  log_title->addWidget(m_logLabel, 0, Qt::AlignBottom);
  log_title->addStretch(1);
  log_title->addWidget(m_copyLog);

  auto* lower_left = new QVBoxLayout;
  lower_left->setSpacing(gap);
  lower_left->addWidget(m_sourceGroup);
  lower_left->addWidget(m_targetGroup);
  lower_left->addLayout(log_title);
  lower_left->addWidget(m_log, 1);
  auto* progress_row = new QHBoxLayout;
  progress_row->addWidget(m_progress, 1);
  progress_row->addWidget(m_cancelCopy);
  lower_left->addLayout(progress_row);

  auto* system_column = new QVBoxLayout(m_systemGroup);
  system_column->addWidget(m_singleDrive);
  system_column->addWidget(m_dualDrive);
  auto* photo_row = new QHBoxLayout(m_photoGroup);
  photo_row->addWidget(m_photoSize, 0, Qt::AlignHCenter);

  auto* upper_right = new QVBoxLayout;
  upper_right->setSpacing(gap);
  upper_right->addWidget(m_systemGroup);
  upper_right->addWidget(m_photoGroup);
  upper_right->addStretch(1);

  auto* actions = new QVBoxLayout(m_actionGroup);
  for (QPushButton* button :
       {m_copySystem, m_copyMpeg, m_copyPhoto, m_patch, m_backup, m_restore}) {
    actions->addWidget(button);
  }
  actions->addWidget(m_safety);
  auto* exit_row = new QGridLayout;
  exit_row->addWidget(m_aboutButton, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
  exit_row->addWidget(m_exit, 0, 0, Qt::AlignHCenter);
  auto* lower_right = new QVBoxLayout;
  lower_right->setSpacing(gap);
  lower_right->addWidget(m_actionGroup);
  lower_right->addStretch(1);
  lower_right->addLayout(exit_row);

  auto* grid = new QGridLayout;
  grid->addWidget(m_driveList, 0, 0);
  grid->addLayout(upper_right, 0, 1);
  grid->addLayout(lower_left, 1, 0);
  grid->addLayout(lower_right, 1, 1);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(0, 2);  // the log gets the larger share of a taller window
  grid->setRowStretch(1, 3);
  grid->setHorizontalSpacing(12);
  return grid;
}

// The template's order of the controls that take the focus.
void CQuillmarDlg::SetTabOrder() {
  const QWidget* order[] = {m_setSource, m_setTarget, m_singleDrive, m_dualDrive, m_copySystem,
                            m_copyMpeg,  m_patch,     m_exit,        m_log,       m_backup,
                            m_restore,   m_driveList, m_copyLog,     m_photoSize, m_copyPhoto};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }
  m_aboutButton->setFocusPolicy(Qt::NoFocus);
}

void CQuillmarDlg::OnInitDialog() {
  for (const PhotoSize& size : kPhotoSizeSectors) {
    m_photoSize->addItem(
        QString::fromLatin1(size.text.data(), static_cast<qsizetype>(size.text.size())));
  }
  m_photoSize->setMaxVisibleItems(static_cast<int>(kPhotoSizeSectors.size()));
  setWindowIcon(m_hIcon);

  // From here on the log facility shows its lines in this window.
  SetFrontEnd(m_frontEnd.get());
  RegisterLogWindow();

  m_strSource = kSelectDrivePrompt;
  m_strTarget = kSelectDrivePrompt;
  ShowSystemTypeCaptions();
  m_photoSize->setCurrentIndex(0);
  InitDriveList();
  WriteControls();

  m_nTimer = new QTimer(this);
  m_nTimer->setSingleShot(true);
  m_nTimer->setInterval(kStartupTickMs);
  connect(m_nTimer, &QTimer::timeout, this, &CQuillmarDlg::OnTimer);
  m_nTimer->start();
}

void CQuillmarDlg::InitDriveList() {
  m_imageList = {LoadIcon("question"), LoadIcon("computer"), LoadIcon("replaytv"),
                 LoadIcon("disk1of2"), LoadIcon("disk2of2")};
  m_driveList->setIconSize(QSize(16, 16));
  SizeDriveListColumns();
}

void CQuillmarDlg::OnTimer() {
  OperationScope scan(this);
  m_nTimer->stop();
  LogRunStart();
  RefreshDriveList();
  UpdateButtons();
  ExplainMissingRights();
}

void CQuillmarDlg::OnRescan() {
  if (operationRunning())
    return;
  const std::array<DriveInfo, kMaxDrives> before = DriveTable;
  const QList<QTreeWidgetItem*> selected = m_driveList->selectedItems();
  const int row = selected.isEmpty() ? -1 : m_driveList->indexOfTopLevelItem(selected.first());
  RunOperation([] {
    ForgetMachineDisks();
    g_probePending = true;
  });
  KeepSameDisks(before, row);
}

void CQuillmarDlg::RefreshDriveList() {
  m_driveList->clear();
  ClassifyDrives();

  int last_row = 0;
  for (int i = kMaxDrives - 1; i >= 1; --i) {
    if (DriveTable[i].size_sectors != 0) {
      last_row = i;
      break;
    }
  }
  for (int i = 0; i <= last_row; ++i) {
    const DriveInfo& drive = DriveTable[i];
    auto* row = new QTreeWidgetItem;
    row->setTextAlignment(kIndexColumn, Qt::AlignCenter);
    row->setTextAlignment(kSizeColumn, Qt::AlignCenter);
    if (drive.size_sectors == 0) {
      row->setText(0, "Empty");
      row->setIcon(0, m_imageList[kImageNotReplayTv]);
    } else {
      DriveRowStatus status = DriveListStatus(drive);
      row->setText(0, QString::fromStdString(drive.model));
      row->setIcon(0, m_imageList[status.image]);
      row->setText(kStatusColumn, QString::fromStdString(status.text));
      row->setText(kSizeColumn,
                   QString::fromStdString(Format("%d GB", static_cast<int>(drive.size_gb))));
      row->setText(kIndexColumn, QString::number(i));
    }
    ShowDevicePath(row, drive);
    m_driveList->addTopLevelItem(row);
  }
}

void CQuillmarDlg::UpdateButtons() {
  auto valid = [](int index) {
    return index >= 0 && index < kMaxDrives && DriveTable[index].size_sectors != 0;
  };
  const bool s = valid(m_nSourceDrive);
  const bool t = valid(m_nTargetDrive);
  const bool d = m_nSourceDrive != m_nTargetDrive;
  const bool source_rtv4000 = s && DriveTable[m_nSourceDrive].rtv4000 != 0;
  const bool target_rtv4000 = t && DriveTable[m_nTargetDrive].rtv4000 != 0;
  const bool single = m_nSystemType == 0;

  for (QWidget* control : std::initializer_list<QWidget*>{
           m_setSource, m_setTarget, m_exit, m_singleDrive, m_dualDrive, m_copyLog, m_safety}) {
    control->setEnabled(true);
  }
  m_backup->setEnabled(s);
  m_restore->setEnabled(t);
  m_photoSize->setEnabled(target_rtv4000);
  m_copyPhoto->setEnabled(source_rtv4000 || (m_nSourceDrive == -1 && target_rtv4000));
  m_patch->setEnabled(single ? t : (s && t && d));
  m_copySystem->setEnabled(single && s && t && d);
  m_copyMpeg->setEnabled(single && s && t && d);
}

void CQuillmarDlg::DisableAllControls() {
  for (QWidget* control : std::initializer_list<QWidget*>{
           m_backup, m_restore, m_patch, m_copySystem, m_copyMpeg, m_copyPhoto, m_setSource,
           m_setTarget, m_copyLog, m_exit, m_singleDrive, m_dualDrive, m_photoSize, m_safety}) {
    control->setEnabled(false);
  }
}

void CQuillmarDlg::ReadControls() {
  m_nSystemType = m_dualDrive->isChecked() ? 1 : 0;
}

void CQuillmarDlg::WriteControls() {
  (m_nSystemType == 0 ? m_singleDrive : m_dualDrive)->setChecked(true);
  m_sourceText->setText(m_strSource);
  m_sourceText->setToolTip(m_strSource);
  m_targetText->setText(m_strTarget);
  m_targetText->setToolTip(m_strTarget);
}

// The first selected row of the drive list, or -1; a drive with PC partition information is
// taken only after the user confirms it.
int CQuillmarDlg::SelectedDriveAfterWarning() {
  int index = -1;
  const QList<QTreeWidgetItem*> selected = m_driveList->selectedItems();
  if (!selected.isEmpty())
    index = m_driveList->indexOfTopLevelItem(selected.first());
  if (index >= 0 && index < kMaxDrives && DriveTable[index].system_disk != 0) {
    std::string warning = Format(
        "*** WARNING: Drive %d contains non-ReplayTV partition information\n"
        "*** WARNING: and may be one of your PC's drives.\n"
        "    Are you sure you want to continue?",
        index);
    if (AskWindowYesNo(warning, "Warning") != kIdYes)
      index = -1;
  }
  return index;
}

void CQuillmarDlg::OnSetSource() {
  SetDrive(&m_nSourceDrive, &m_strSource);
}

void CQuillmarDlg::OnSetTarget() {
  SetDrive(&m_nTargetDrive, &m_strTarget);
}

// Takes the selected row as the source or the target drive and describes it in its label.
void CQuillmarDlg::SetDrive(int* index, QString* label) {
  ReadControls();
  *index = SelectedDriveAfterWarning();
  const DriveInfo no_drive;
  const DriveInfo& drive = *index >= 0 ? DriveTable[*index] : no_drive;
  *label = QString::fromStdString(DriveSelectionLabel(*index, drive));
  UpdateButtons();
  WriteControls();
}

void CQuillmarDlg::OnSystemType() {
  ReadControls();
  ShowSystemTypeCaptions();
  UpdateButtons();
  WriteControls();
}

// In a two-drive system the source is the first drive and the target the second.
void CQuillmarDlg::ShowSystemTypeCaptions() {
  const bool single = m_nSystemType == 0;
  m_sourceGroup->setTitle(single ? "Source drive" : "1st drive");
  m_targetGroup->setTitle(single ? "Target drive" : "2nd drive");
  m_patch->setText(single ? "Patch Target Drive" : "Make 2-Drive System");
}

template <typename Operation>
void CQuillmarDlg::RunOperation(Operation operation) {
  OperationScope scope(this);
  ClearCopyStop();
  DisableAllControls();
  const int changed = m_safety->Run(operation);
  RefreshDriveList();
  UpdateButtons();
  if (changed >= 0)
    ForgetChosenDrives();
}

// The drives an action is about to use must be the ones listed: a disk swapped, removed or
// rewritten since (by another program) is refused before any question, and the list shows the
// drives as they are now.
bool CQuillmarDlg::DrivesAsListed() {
  int changed = FirstDriveChangedSinceListed();
  if (changed < 0)
    return true;
  ShowError(DriveChangedSinceListedText(changed) +
            ": the list now shows the drives as they are.\n"
            "           Choose the source and target drives again.");
  RefreshDriveList();
  ForgetChosenDrives();
  return false;
}

// The source and target are to be chosen again: their labels describe disks that changed.
void CQuillmarDlg::ForgetChosenDrives() {
  m_nSourceDrive = m_nTargetDrive = -1;
  m_strSource = m_strTarget = kSelectDrivePrompt;
  WriteControls();
  UpdateButtons();
}

void CQuillmarDlg::OnCopySystem() {
  if (DrivesAsListed())
    RunOperation([this] { MirrorSystemPartition(m_nSourceDrive, m_nTargetDrive); });
}

void CQuillmarDlg::OnCopyMpeg() {
  if (DrivesAsListed())
    RunOperation([this] { CopyMpegPartition(m_nSourceDrive, m_nTargetDrive); });
}

void CQuillmarDlg::OnCopyPhoto() {
  if (DrivesAsListed())
    RunOperation([this] { CopyPhotoPartition(m_nSourceDrive, m_nTargetDrive); });
}

uint32_t CQuillmarDlg::SelectedPhotoSize() const {
  const int choice = m_photoSize->currentIndex();
  if (choice < 0 || choice >= static_cast<int>(kPhotoSizeSectors.size()))
    return 0;
  return kPhotoSizeSectors[static_cast<size_t>(choice)].sectors;
}

void CQuillmarDlg::OnPatch() {
  ReadControls();
  if (!DrivesAsListed())
    return;
  RunOperation([this] {
    const uint32_t photo_sectors = SelectedPhotoSize();
    if (m_nSystemType == 0) {
      PatchSingleDrive(m_nTargetDrive, photo_sectors);
    } else {
      AddSecondDrive(m_nSourceDrive, m_nTargetDrive, photo_sectors);
    }
  });
}

// Backup and restore ask their questions and the file first; the controls are disabled and the
// list refreshed only once the copy starts.
void CQuillmarDlg::RunFileOperation(FileOperation operation) {
  OperationScope scope(this);
  ClearCopyStop();
  bool started = false;
  const int changed = m_safety->Run([&] {
    operation([this, &started] {
      started = true;
      DisableAllControls();
    });
  });
  if (!started)
    return;
  RefreshDriveList();
  UpdateButtons();
  if (changed >= 0)
    ForgetChosenDrives();
}

void CQuillmarDlg::OnBackup() {
  if (DrivesAsListed())
    RunFileOperation(
        [this](const OperationStart& on_start) { BackupSourceDrive(m_nSourceDrive, on_start); });
}

void CQuillmarDlg::OnRestore() {
  if (DrivesAsListed())
    RunFileOperation(
        [this](const OperationStart& on_start) { RestoreTargetDrive(m_nTargetDrive, on_start); });
}

void CQuillmarDlg::OnCopyLog() {
  QString text;
  for (int i = 0; i < m_driveList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = m_driveList->topLevelItem(i);
    text += QString("%1) ").arg(i) + row->text(0) + " - (" + row->text(kSizeColumn) + ") - " +
            row->text(kStatusColumn) + "\r\n";
  }
  text += "\r\n";
  text += "Source: " + m_strSource + "\r\n";
  text += "Target: " + m_strTarget + "\r\n\r\n";
  for (int i = 0; i < m_log->count(); ++i)
    text += m_log->item(i)->text() + "\r\n";
  if (QClipboard* clipboard = QGuiApplication::clipboard())
    clipboard->setText(text);
}

void CQuillmarDlg::OnAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

void CQuillmarDlg::EndOperation() {
  --m_nOperationDepth;
  if (m_nOperationDepth == 0 && m_pendingClose) {
    const int result = *m_pendingClose;
    m_pendingClose.reset();
    QDialog::done(result);
  }
}

void CQuillmarDlg::done(int result) {
  if (m_nOperationDepth > 0) {
    if (!m_pendingClose)
      m_pendingClose = result;
    return;
  }
  QDialog::done(result);
}

// Enter closes the window when no push button has the focus (a focused button takes the key
// itself); Esc is the dialog's cancel. While an operation runs both do nothing.
void CQuillmarDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if ((enter || event->key() == Qt::Key_Escape) && operationRunning())
    return;
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (enter && plain && qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace quillmar
