// How the window describes drives (status column, picture, Set label) and how it turns the
// file-choice filter into Qt's form.
#include <QTest>

#include "drives/drive_status.h"
#include "gui/file_filter.h"

namespace quillmar {
namespace {

struct StatusRow {
  const char* name;
  int is_replaytv, rtv4000, patched, system_disk, dual_position;
  const char* text;
  int image;
  const char* label_status;  // the Set label names both byte orders "ReplayTV"
};

// Every rule of the status column, in the order they are tried, in both byte orders.
const StatusRow kStatusRows[] = {
    {"second of a pair wins over everything", 0, 0, 0, 1, 2, "ReplayTV Disk 2 of 2", 4,
     "ReplayTV Disk 2 of 2"},
    {"second of a pair, RTV4000", 1, 1, 0, 0, 2, "RTV4000 Disk 2 of 2", 4, "ReplayTV Disk 2 of 2"},
    {"PC disk", 0, 0, 0, 1, 0, "May be PC Disk", 1, "May be PC Disk"},
    {"PC disk whatever its byte order", 0, 1, 1, 1, 1, "May be PC Disk", 1, "May be PC Disk"},
    {"blank", 0, 0, 0, 0, 0, "NOT a ReplayTV Disk", 0, "NOT a ReplayTV Disk"},
    {"not ReplayTV but marked first of a pair", 0, 0, 0, 0, 1, "NOT a ReplayTV Disk", 0,
     "NOT a ReplayTV Disk"},
    {"first of a pair", 1, 0, 0, 0, 1, "ReplayTV Disk 1 of 2", 3, "ReplayTV Disk 1 of 2"},
    {"first of a pair, RTV4000, patched", 1, 1, 1, 0, 1, "RTV4000 Disk 1 of 2", 3,
     "ReplayTV Disk 1 of 2"},
    {"unpatched", 1, 0, 0, 0, 0, "ReplayTV Disk, NEEDS TO BE PATCHED", 2,
     "ReplayTV Disk, NEEDS TO BE PATCHED"},
    {"unpatched RTV4000", 1, 1, 0, 0, 0, "RTV4000 Disk, NEEDS TO BE PATCHED", 2,
     "ReplayTV Disk, NEEDS TO BE PATCHED"},
    {"patched", 1, 0, 1, 0, 0, "ReplayTV Disk", 2, "ReplayTV Disk"},
    {"patched RTV4000", 1, 1, 1, 0, 0, "RTV4000 Disk", 2, "ReplayTV Disk"},
    {"ReplayTV with a PC type further on", 1, 0, 1, 1, 0, "ReplayTV Disk", 2, "ReplayTV Disk"},
};

}  // namespace

class DriveStatusTest : public QObject {
  Q_OBJECT

 private slots:
  void statusTextAndPicture_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(std::size(kStatusRows)); ++i)
      QTest::newRow(kStatusRows[i].name) << i;
  }

  void statusTextAndPicture() {
    QFETCH(int, row);
    const StatusRow& r = kStatusRows[row];
    DriveInfo drive;
    drive.model = "WDC WD3000JB-00KFA0";
    drive.size_sectors = 586072368;
    drive.size_gb = 300;
    drive.is_replaytv = r.is_replaytv;
    drive.rtv4000 = r.rtv4000;
    drive.patched = r.patched;
    drive.system_disk = r.system_disk;
    drive.dual_position = r.dual_position;
    DriveRowStatus status = DriveListStatus(drive);
    QCOMPARE(QString::fromStdString(status.text), QString(r.text));
    QCOMPARE(status.image, r.image);
    QCOMPARE(QString::fromStdString(DriveSelectionLabel(7, drive)),
             QString("7) WDC WD3000JB-00KFA0 - ( 300GB ) - ") + r.label_status);
    QCOMPARE(DriveSelectionLabel(-1, drive),
             std::string("Select a drive from the list and click 'Set'"));
  }

  // An index where no drive was found still gets a label, from its empty record.
  void labelOfAnEmptyRow() {
    QCOMPARE(DriveSelectionLabel(3, DriveInfo{}),
             std::string("3)  - ( 0GB ) - NOT a ReplayTV Disk"));
  }

  void fileFilter_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("backup files") << "ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||"
                                  << QStringList{"ReplayTV backup files (*.rtv)", "All Files (*)"};
    QTest::newRow("description without patterns")
        << "Text|*.rtv|Everything|*.*||" << QStringList{"Text (*.rtv)", "Everything (*)"};
    QTest::newRow("several patterns")
        << "Images (*.img;*.bin)|*.img;*.bin||" << QStringList{"Images (*.img *.bin)"};
    QTest::newRow("no closing bars") << "Text (*.rtv)|*.rtv" << QStringList{"Text (*.rtv)"};
    QTest::newRow("empty") << "" << QStringList{};
  }

  void fileFilter() {
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(ConvertFileFilter(filter.toStdString()), expected);
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::DriveStatusTest)
#include "drive_status_test.moc"
