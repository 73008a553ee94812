// The main window from start-up to a selection: the deferred first scan, the drive list, the
// Set buttons with their warning, the system type and every enabling rule.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "disk/drive_table.h"
#include "tests/gui/gui_harness.h"

namespace quillmar {
namespace {

using testing::GuiSession;
using testing::SupportFailureCount;
using namespace testing;  // sample drive names

const QString kPrompt = "Select a drive from the list and click 'Set'";

// The controls whose enabled state the rules decide, in a fixed order for comparisons.
const char* const kRuledControls[] = {"IDC_BACKUP",     "IDC_RESTORE", "IDC_PHOTO_SIZE",
                                      "IDC_COPY_PHOTO", "IDC_PATCH",   "IDC_COPY_SYSTEM",
                                      "IDC_COPY_MPEG"};
const char* const kAlwaysEnabled[] = {"IDC_SET_SOURCE",   "IDC_SET_TARGET", "IDCANCEL",
                                      "IDC_SINGLE_DRIVE", "IDC_DUAL_DRIVE", "IDC_COPY_LOG"};

QString EnabledPattern(GuiSession& session) {
  QString pattern;
  for (const char* id : kRuledControls) {
    pattern += session.Control<QWidget>(id)->isEnabled() ? '1' : '0';
  }
  return pattern;
}

QString Model(int index) {
  return QString::fromStdString(DriveTable[index].model);
}

}  // namespace

class MainWindowTest : public testing::SessionTest {
  Q_OBJECT

 private slots:
  void templateStateBeforeTheFirstTick() {
    session_->OpenWithoutWaiting({session_->File("missing.img")});
    GuiSession& s = *session_;
    QCOMPARE(s.DriveList()->topLevelItemCount(), 0);
    for (QWidget* control : s.dlg().findChildren<QWidget*>()) {
      const QString id = control->objectName();
      if (!id.startsWith("IDC") || id == "IDC_DRIVE_LIST" || id == "IDC_LOG" ||
          qobject_cast<QGroupBox*>(control) != nullptr || id.endsWith("_TEXT") ||
          id == "IDC_LOG_LABEL" || id == "IDC_PROGRESS") {
        continue;
      }
      QVERIFY2(control->isEnabled() == (id == "IDC_COPY_LOG" || id == "IDCANCEL"), qPrintable(id));
    }
    QVERIFY(s.Button("IDCANCEL")->isEnabled());
    QVERIFY(s.Control<QRadioButton>("IDC_SINGLE_DRIVE")->isChecked());
    QVERIFY(s.Control<QWidget>("IDC_PROGRESS")->isHidden());
    QCOMPARE(s.Control<QLabel>("IDC_SOURCE_TEXT")->text(), kPrompt);
    QCOMPARE(s.Control<QLabel>("IDC_TARGET_TEXT")->text(), kPrompt);
    QCOMPARE(s.Control<QComboBox>("IDC_PHOTO_SIZE")->currentText(), QString("No change"));
    QVERIFY(s.LogLines().isEmpty());  // nothing is scanned or logged before the tick
  }

  void firstTickFillsTheDriveList() {
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    QTreeWidget* list = s.DriveList();
    QCOMPARE(list->topLevelItemCount(), 7);

    struct Row {
      const char* size;
      const char* status;
      int image;
    };
    const Row rows[] = {
        {"20 GB", "ReplayTV Disk, NEEDS TO BE PATCHED", kImageReplayTv},
        {"", "", kImageNotReplayTv},
        {"40 GB", "RTV4000 Disk", kImageReplayTv},
        {"2 GB", "May be PC Disk", kImagePcDisk},
        {"20 GB", "ReplayTV Disk 1 of 2", kImageDisk1Of2},
        {"30 GB", "ReplayTV Disk 2 of 2", kImageDisk2Of2},
        {"51 GB", "NOT a ReplayTV Disk", kImageNotReplayTv},
    };
    for (int i = 0; i < 7; ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i);
      const QString where = QString("row %1").arg(i);
      if (i == kMissing) {
        QCOMPARE(item->text(0), QString("Empty"));
        QCOMPARE(item->text(1), QString());
      } else {
        QVERIFY2(!item->text(0).isEmpty(), qPrintable(where));
        QCOMPARE(item->text(0), Model(i));
        QCOMPARE(item->text(1), QString::number(i));
        QCOMPARE(item->text(4), QString::fromStdString(drives_[static_cast<size_t>(i)]));
      }
      QCOMPARE(item->text(2), QString(rows[i].size));
      QCOMPARE(item->text(3), QString(rows[i].status));
      QVERIFY2(item->icon(0).cacheKey() == s.dlg().driveImage(rows[i].image).cacheKey(),
               qPrintable(where));
    }

    // The version line opens the log, once: the tick does not come back.
    QTest::qWait(300);
    const QStringList log = s.LogLines();
    QVERIFY(!log.isEmpty());
    static const QRegularExpression kVersion(
        R"(^Quillmar version 2\.4, built on [A-Z][a-z]{2} [ 1-3][0-9] \d{4}, \d\d:\d\d:\d\d$)");
    QVERIFY2(kVersion.match(log.first()).hasMatch(), qPrintable(log.first()));
    QCOMPARE(log.filter("Quillmar version").size(), 1);
    QVERIFY(log.filter("Drive size will be limited").isEmpty());
    QCOMPARE(s.ui().lines().front(), log.first().toStdString());
    QCOMPARE(EnabledPattern(s), QString("0000000"));
    for (const char* id : kAlwaysEnabled)
      QVERIFY2(s.Control<QWidget>(id)->isEnabled(), id);
  }

  // The five pictures are loaded and tell the roles apart.
  void driveImagesAreDistinct() {
    session_->OpenWithoutWaiting({session_->File("missing.img")});
    QVERIFY(!session_->dlg().windowIcon().isNull());
    QSet<QByteArray> pictures;
    for (int image = 0; image < kDriveImageCount; ++image) {
      QImage picture = session_->dlg().driveImage(image).pixmap(16, 16).toImage();
      QCOMPARE(picture.size(), QSize(16, 16));
      pictures.insert(
          QByteArray(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes()));
    }
    QCOMPARE(pictures.size(), kDriveImageCount);
  }

  // Rows run from drive 0 to the last drive found: missing ones before it read "Empty".
  void rowsRunToTheLastPresentDrive() {
    std::vector<std::string> drives;
    for (const char* name : {"missing0.img", "b.img", "missing2.img", "missing3.img"})
      drives.push_back(session_->File(name));
    QVERIFY(MakeBlankImage(drives[1], 2000000));
    QVERIFY(session_->Open(drives));
    QTreeWidget* list = session_->DriveList();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QString("Empty"));
    QVERIFY2(list->topLevelItem(1)->text(0).contains("b.img"),
             qPrintable(list->topLevelItem(1)->text(0)));
    QCOMPARE(list->topLevelItem(1)->text(3), QString("NOT a ReplayTV Disk"));
  }

  // Each side is set to drive 0 first: a later Set replaces it, one without a selection clears
  // it. "%1" stands for the row's model; an "Empty" row can be set too.
  void setLabels_data() {
    QTest::addColumn<bool>("target");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::newRow("source") << false << int{kOld}
                            << "0) %1 - ( 20GB ) - ReplayTV Disk, NEEDS TO BE PATCHED";
    QTest::newRow("RTV4000 target") << true << int{kRtv4000} << "2) %1 - ( 40GB ) - ReplayTV Disk";
    QTest::newRow("second of a pair")
        << true << int{kPair2} << "5) %1 - ( 30GB ) - ReplayTV Disk 2 of 2";
    QTest::newRow("empty row") << true << int{kMissing} << "1) %1 - ( 0GB ) - NOT a ReplayTV Disk";
    QTest::newRow("source without selection") << false << -1 << kPrompt;
    QTest::newRow("target without selection") << true << -1 << kPrompt;
  }

  void setLabels() {
    QFETCH(bool, target);
    QFETCH(int, row);
    QFETCH(QString, label);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    auto set = [&](int r) { target ? s.SetTarget(r) : s.SetSource(r); };
    set(kOld);
    set(row);
    QCOMPARE(target ? s.dlg().targetDrive() : s.dlg().sourceDrive(), row);
    const QString expected = row < 0 ? label : label.arg(Model(row));
    QCOMPARE(s.Control<QLabel>(target ? "IDC_TARGET_TEXT" : "IDC_SOURCE_TEXT")->text(), expected);
    QVERIFY(s.ui().questions().empty());
  }

  void systemDiskWarning_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes keeps the drive") << true;
    QTest::newRow("no clears even a drive set before") << false;
  }

  void systemDiskWarning() {
    QFETCH(bool, yes);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.ui().Answer(true);
    s.SetSource(kPc);
    QCOMPARE(s.dlg().sourceDrive(), 3);  // set once with a yes

    s.ui().Answer(yes);
    s.SetSource(kPc);
    QCOMPARE(s.ui().questions().size(), size_t{2});
    const testing::Box& warning = s.ui().questions().back();
    QCOMPARE(warning.caption, std::string("Warning"));
    QCOMPARE(warning.text,
             std::string("*** WARNING: Drive 3 contains non-ReplayTV partition information\n"
                         "*** WARNING: and may be one of your PC's drives.\n"
                         "    Are you sure you want to continue?"));
    if (yes) {
      QCOMPARE(s.dlg().sourceDrive(), 3);
      QCOMPARE(s.dlg().sourceLabel(), QString("3) %1 - ( 2GB ) - May be PC Disk").arg(Model(kPc)));
      QVERIFY(s.Button("IDC_BACKUP")->isEnabled());
    } else {
      QCOMPARE(s.dlg().sourceDrive(), -1);
      QCOMPARE(s.dlg().sourceLabel(), kPrompt);
      QVERIFY(!s.Button("IDC_BACKUP")->isEnabled());
    }
    // The same warning guards the target.
    s.ui().Answer(false);
    s.SetTarget(kPc);
    QCOMPARE(s.dlg().targetDrive(), -1);
    QCOMPARE(s.ui().questions().size(), size_t{3});
  }

  // Enabled: backup, restore, photo size, copy photo, patch, copy system, copy MPEG.
  void enablingRules_data() {
    QTest::addColumn<int>("system");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("enabled");
    QTest::newRow("single, nothing set") << 0 << -1 << -1 << "0000000";
    QTest::newRow("single, two drives") << 0 << int{kOld} << int{kBlank} << "1100111";
    QTest::newRow("single, same drive twice") << 0 << int{kOld} << int{kOld} << "1100100";
    QTest::newRow("single, RTV4000 target, no source") << 0 << -1 << int{kRtv4000} << "0111100";
    QTest::newRow("single, RTV4000 source") << 0 << int{kRtv4000} << int{kBlank} << "1101111";
    QTest::newRow("single, RTV4000 target with a standard source")
        << 0 << int{kOld} << int{kRtv4000} << "1110111";
    QTest::newRow("single, empty source") << 0 << int{kMissing} << int{kBlank} << "0100100";
    QTest::newRow("single, empty target") << 0 << int{kBlank} << int{kMissing} << "1000000";
    QTest::newRow("single, source only") << 0 << int{kOld} << -1 << "1000000";
    QTest::newRow("dual, nothing set") << 1 << -1 << -1 << "0000000";
    QTest::newRow("dual, two drives") << 1 << int{kOld} << int{kBlank} << "1100100";
    QTest::newRow("dual, same drive twice") << 1 << int{kOld} << int{kOld} << "1100000";
    QTest::newRow("dual, RTV4000 target, no source") << 1 << -1 << int{kRtv4000} << "0111000";
    QTest::newRow("dual, RTV4000 source") << 1 << int{kRtv4000} << int{kBlank} << "1101100";
    QTest::newRow("dual, empty source") << 1 << int{kMissing} << int{kBlank} << "0100000";
    QTest::newRow("dual, target only") << 1 << -1 << int{kBlank} << "0100000";
  }

  void enablingRules() {
    QFETCH(int, system);
    QFETCH(int, source);
    QFETCH(int, target);
    QFETCH(QString, enabled);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.ChooseSystem(system);
    QCOMPARE(s.dlg().systemType(), system);
    s.SetSource(source);
    s.SetTarget(target);
    QCOMPARE(EnabledPattern(s), enabled);
    for (const char* id : kAlwaysEnabled)
      QVERIFY2(s.Control<QWidget>(id)->isEnabled(), id);

    // The same selection reached in the other order of clicks gives the same state.
    s.ChooseSystem(1 - system);
    s.ChooseSystem(system);
    QCOMPARE(EnabledPattern(s), enabled);
  }

  // F5 finds a grown disk anew: its selection is dropped, the unchanged disk's kept.
  void rescanKeepsOnlyTheSameDisks() {
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.SetSource(kOld);
    s.SetTarget(kBlank);
    s.SelectRow(kOld);
    QVERIFY(MakeBlankImage(drives_[kBlank], 200000000));
    QTest::keyClick(&s.dlg(), Qt::Key_F5);
    QCOMPARE(s.dlg().sourceDrive(), int{kOld});
    QCOMPARE(s.dlg().targetDrive(), -1);
    QCOMPARE(s.Control<QLabel>("IDC_TARGET_TEXT")->text(), kPrompt);
    QCOMPARE(s.DriveList()->topLevelItem(kBlank)->text(2), QString("102 GB"));
    QCOMPARE(s.DriveList()->currentItem(), s.DriveList()->topLevelItem(kOld));
    QVERIFY(s.dlg().actions().contains(s.Control<QAction>("IDM_RESCAN")));  // the context menu
  }

  void systemTypeChangesCaptions() {
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.SetSource(kOld);
    s.SetTarget(kBlank);
    const QString source_label = s.dlg().sourceLabel();
    s.ChooseSystem(1);
    QCOMPARE(s.Control<QGroupBox>("IDC_SOURCE_GROUP")->title(), QString("1st drive"));
    QCOMPARE(s.Control<QGroupBox>("IDC_TARGET_GROUP")->title(), QString("2nd drive"));
    QCOMPARE(s.Button("IDC_PATCH")->text(), QString("Make 2-Drive System"));
    QVERIFY(s.Control<QRadioButton>("IDC_DUAL_DRIVE")->isChecked());
    QCOMPARE(s.dlg().sourceDrive(), 0);  // the selection stays
    QCOMPARE(s.dlg().sourceLabel(), source_label);
    s.ChooseSystem(0);
    QCOMPARE(s.Control<QGroupBox>("IDC_SOURCE_GROUP")->title(), QString("Source drive"));
    QCOMPARE(s.Control<QGroupBox>("IDC_TARGET_GROUP")->title(), QString("Target drive"));
    QCOMPARE(s.Button("IDC_PATCH")->text(), QString("Patch Target Drive"));
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::MainWindowTest)
#include "main_window_test.moc"
