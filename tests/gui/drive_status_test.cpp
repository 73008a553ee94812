// How the window describes drives (status column, picture, Set label) and how it turns the
// file-choice filter into Qt's form.
#include <QTest>

#include "app/drive_status.h"
#include "app/file_filter.h"

namespace quillmar {
namespace {

struct Flags {
  int is_replaytv, rtv4000, patched, system_disk, dual_position;
};

DriveInfo Drive(const Flags& flags) {
  DriveInfo drive;
  drive.model = "WDC WD3000JB-00KFA0";
  drive.size_sectors = 586072368;
  drive.size_gb = 300;
  drive.is_replaytv = flags.is_replaytv;
  drive.rtv4000 = flags.rtv4000;
  drive.patched = flags.patched;
  drive.system_disk = flags.system_disk;
  drive.dual_position = flags.dual_position;
  return drive;
}

}  // namespace

class DriveStatusTest : public QObject {
  Q_OBJECT

 private slots:
  // Every rule of the status column, in the order they are tried, in both byte orders.
  void statusTextAndPicture_data() {
    QTest::addColumn<int>("is_replaytv");
    QTest::addColumn<int>("rtv4000");
    QTest::addColumn<int>("patched");
    QTest::addColumn<int>("system_disk");
    QTest::addColumn<int>("dual_position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("image");
    QTest::addColumn<QString>("label_status");

    QTest::newRow("second of a pair wins over everything")
        << 0 << 0 << 0 << 1 << 2 << "ReplayTV Disk 2 of 2" << 4 << "ReplayTV Disk 2 of 2";
    QTest::newRow("second of a pair, RTV4000")
        << 1 << 1 << 0 << 0 << 2 << "RTV4000 Disk 2 of 2" << 4 << "ReplayTV Disk 2 of 2";
    QTest::newRow("PC disk") << 0 << 0 << 0 << 1 << 0 << "May be PC Disk" << 1 << "May be PC Disk";
    QTest::newRow("PC disk whatever its byte order")
        << 0 << 1 << 1 << 1 << 1 << "May be PC Disk" << 1 << "May be PC Disk";
    QTest::newRow("blank") << 0 << 0 << 0 << 0 << 0 << "NOT a ReplayTV Disk" << 0
                           << "NOT a ReplayTV Disk";
    QTest::newRow("not ReplayTV but marked first of a pair")
        << 0 << 0 << 0 << 0 << 1 << "NOT a ReplayTV Disk" << 0 << "NOT a ReplayTV Disk";
    QTest::newRow("first of a pair")
        << 1 << 0 << 0 << 0 << 1 << "ReplayTV Disk 1 of 2" << 3 << "ReplayTV Disk 1 of 2";
    QTest::newRow("first of a pair, RTV4000, patched")
        << 1 << 1 << 1 << 0 << 1 << "RTV4000 Disk 1 of 2" << 3 << "ReplayTV Disk 1 of 2";
    QTest::newRow("unpatched") << 1 << 0 << 0 << 0 << 0 << "ReplayTV Disk, NEEDS TO BE PATCHED" << 2
                               << "ReplayTV Disk, NEEDS TO BE PATCHED";
    QTest::newRow("unpatched RTV4000")
        << 1 << 1 << 0 << 0 << 0 << "RTV4000 Disk, NEEDS TO BE PATCHED" << 2
        << "ReplayTV Disk, NEEDS TO BE PATCHED";
    QTest::newRow("patched") << 1 << 0 << 1 << 0 << 0 << "ReplayTV Disk" << 2 << "ReplayTV Disk";
    QTest::newRow("patched RTV4000")
        << 1 << 1 << 1 << 0 << 0 << "RTV4000 Disk" << 2 << "ReplayTV Disk";
    QTest::newRow("ReplayTV with a PC type further on")
        << 1 << 0 << 1 << 1 << 0 << "ReplayTV Disk" << 2 << "ReplayTV Disk";
  }

  void statusTextAndPicture() {
    QFETCH(int, is_replaytv);
    QFETCH(int, rtv4000);
    QFETCH(int, patched);
    QFETCH(int, system_disk);
    QFETCH(int, dual_position);
    QFETCH(QString, text);
    QFETCH(int, image);
    QFETCH(QString, label_status);

    DriveInfo drive = Drive({is_replaytv, rtv4000, patched, system_disk, dual_position});
    DriveRowStatus status = DriveListStatus(drive);
    QCOMPARE(QString::fromStdString(status.text), text);
    QCOMPARE(status.image, image);
    QCOMPARE(QString::fromStdString(DriveSelectionLabel(7, drive)),
             "7) WDC WD3000JB-00KFA0 - ( 300GB ) - " + label_status);
  }

  void labelOfNoDriveIsThePrompt() {
    QCOMPARE(DriveSelectionLabel(-1, Drive({1, 0, 0, 0, 0})),
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
