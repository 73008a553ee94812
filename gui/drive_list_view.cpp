// The drive list's columns and its rescan: the parts of the main window that show where each
// drive is and look for disks plugged in after the start.
#include "gui/drive_list_view.h"

#include <QAction>
#include <QHeaderView>
#include <QTreeWidget>

#include "disk/drive_map.h"
#include "gui/quillmar_dlg.h"

namespace quillmar {
namespace {

// The same disk at the same index after a rescan: same path, model and size.
bool SameDisk(const DriveInfo& before, const DriveInfo& now) {
  return now.size_sectors != 0 && before.device_path == now.device_path &&
         before.model == now.model && before.size_sectors == now.size_sectors;
}

}  // namespace

void CQuillmarDlg::SizeDriveListColumns() {
  m_driveList->setHeaderLabels({"Drive ID", "Index", "Size", "Status", "Device"});
  QTreeWidgetItem* header = m_driveList->headerItem();
  header->setTextAlignment(kIndexColumn, Qt::AlignCenter);
  header->setTextAlignment(kSizeColumn, Qt::AlignCenter);

  const QFontMetrics metrics = m_driveList->fontMetrics();
  const int padding = 2 * metrics.averageCharWidth() + 8;
  const int index_width = std::max(40, metrics.horizontalAdvance("Index") + padding);
  const int size_width = std::max(60, metrics.horizontalAdvance("1024 GB") + padding);
  const int id_width = metrics.averageCharWidth() * 26;
  const int status_width = metrics.horizontalAdvance("RTV4000 Disk, NEEDS TO BE PATCHED") + padding;
  const int device_width = metrics.horizontalAdvance("/dev/nvme0n1") + padding;
  m_driveList->setColumnWidth(0, id_width);
  m_driveList->setColumnWidth(kIndexColumn, index_width);
  m_driveList->setColumnWidth(kSizeColumn, size_width);
  m_driveList->setColumnWidth(kStatusColumn, status_width);
  m_driveList->header()->setStretchLastSection(true);
  // Room for six drives without scrolling; more rows scroll.
  m_driveList->setMinimumHeight(m_driveList->header()->sizeHint().height() +
                                6 * std::max(metrics.height(), 16) + 6 * 4 + 4);
  m_driveList->setMinimumWidth(id_width + index_width + size_width + status_width + device_width);
}

void CQuillmarDlg::ShowDevicePath(QTreeWidgetItem* row, const DriveInfo& drive) {
  const QString path = QString::fromStdString(drive.device_path);
  row->setText(kDeviceColumn, path);
  for (int column = 0; column <= kDeviceColumn; ++column)
    row->setToolTip(column, path);
  // A longer path widens its column and the list, up to 40 characters; beyond that the list
  // scrolls sideways rather than cut it.
  const QFontMetrics metrics = m_driveList->fontMetrics();
  const int needed = metrics.horizontalAdvance(path) + 16;
  if (m_driveList->columnWidth(kDeviceColumn) >= needed)
    return;
  const int grow =
      std::min(needed, metrics.averageCharWidth() * 40) - m_driveList->columnWidth(kDeviceColumn);
  m_driveList->setColumnWidth(kDeviceColumn, needed);
  if (grow > 0)
    m_driveList->setMinimumWidth(m_driveList->minimumWidth() + grow);
}

void CQuillmarDlg::CreateRescanAction() {
  m_rescanAction = new QAction("&Rescan drives", this);
  m_rescanAction->setObjectName("IDM_RESCAN");
  m_rescanAction->setShortcut(QKeySequence(Qt::Key_F5));
  connect(m_rescanAction, &QAction::triggered, this, &CQuillmarDlg::OnRescan);
  addAction(m_rescanAction);
}

void CQuillmarDlg::KeepSameDisks(const std::array<DriveInfo, kMaxDrives>& before, int row) {
  for (auto [index, label] :
       {std::pair{&m_nSourceDrive, &m_strSource}, std::pair{&m_nTargetDrive, &m_strTarget}}) {
    if (*index >= 0 && !SameDisk(before[*index], DriveTable[*index])) {
      *index = -1;
      *label = kSelectDrivePrompt;
    }
  }
  if (row >= 0 && row < m_driveList->topLevelItemCount() && SameDisk(before[row], DriveTable[row]))
    m_driveList->setCurrentItem(m_driveList->topLevelItem(row));
  WriteControls();
  UpdateButtons();
}

}  // namespace quillmar
