// The main window clicked as a user would: the drive list and which buttons each selection
// enables; the frame around every action (its questions in the window's own boxes, nothing
// enabled meanwhile, a refusal that writes nothing); the undo and verify choices; what Enter,
// Esc and the close box do; the command line's two numbers; and a screenshot.
#include <unistd.h>

#include "gui/quillmar_app.h"
#include "tests/gui/gui_harness.h"
#include "tests/support/disk_aliases.h"

namespace quillmar::testing {
namespace {

// The rules: backup, restore, Photo size, copy Photo, patch, copy system, copy MPEG enabled.
struct RuleRow {
  int system, source, target;
  const char* enabled;
};
const RuleRow kRules[] = {
    {0, -1, -1, "0000000"},           {0, kOld, kBlank, "1100111"},
    {0, kOld, kOld, "1100100"},       {0, -1, kRtv4000, "0111100"},
    {0, kRtv4000, kBlank, "1101111"}, {0, kOld, kRtv4000, "1110111"},
    {0, kMissing, kBlank, "0100100"}, {0, kBlank, kMissing, "1000000"},
    {0, kOld, -1, "1000000"},         {1, -1, -1, "0000000"},
    {1, kOld, kBlank, "1100100"},     {1, kOld, kOld, "1100000"},
    {1, -1, kRtv4000, "0111000"},     {1, kRtv4000, kBlank, "1101100"},
    {1, kMissing, kBlank, "0100000"}, {1, -1, kBlank, "0100000"},
};

struct ActionRow {
  const char* name;
  int system, source, target;
  const char* button;
  const char* script;     // the prompts and their answers (Session::Run)
  int changed;            // a bit for each drive that must change; the others stay identical
  const char* status;     // the target's status afterwards (the source's without a target)
  const char* log = "";   // logged by the run
  const char* pick = "";  // a choice ticked first, or the Photo size chosen first
  const char* undo = "";  // then "Undo from file..." with this script
  bool refreshed = true;  // the drive list was rebuilt
};
const char kOldStatus[] = "ReplayTV Disk, NEEDS TO BE PATCHED";
const char kNot[] = "NOT a ReplayTV Disk";
const ActionRow kActions[] = {
    {"copy system, no", 0, kOld, kBlank, "IDC_COPY_SYSTEM", "Proceed?|You are about to mirror=no",
     0, kNot},
    {"copy system, Esc", 0, kOld, kBlank, "IDC_COPY_SYSTEM", "Proceed?|You are about to mirror=esc",
     0, kNot},
    {"copy MPEG, no", 0, kOld, kBlank, "IDC_COPY_MPEG",
     "Proceed?|Target disk does not seem to be a ReplayTV disk.=no", 0, kNot},
    {"copy Photo, no", 0, kRtv4000, kBlank, "IDC_COPY_PHOTO",
     "Proceed?|You are about to copy \nthe 3rd partition=no", 0, kNot},
    {"patch, no", 0, -1, kOld, "IDC_PATCH", "Proceed?|You are about to patch disk =no", 0,
     kOldStatus},
    {"join, no", 1, kOld, kBlank, "IDC_PATCH",
     "Proceed?|This will attempt to create a 2 drive system\nwhere =no", 0, kNot},
    {"patch, undo file not chosen", 0, -1, kOld, "IDC_PATCH",
     "Proceed?|You are about to patch disk =yes;Reset MPEG partition|=no;Save undo file (save) "
     "Quillmar undo files (*.qun), All Files (*)=;*** ERROR ***|*** ERROR: No undo file was "
     "chosen: nothing is written.=ok;*** ERROR ***|*** ERROR writing block=ok;*** ERROR ***|*** "
     "ERROR: The patch is not complete.\n           Done: nothing.=ok",
     0, kOldStatus, "", "IDC_SAVE_UNDO"},
    {"backup, file not chosen", 0, kOld, -1, "IDC_BACKUP", "Select backup file name (save) =", 0,
     kOldStatus, "", "", "", false},
    {"restore, overwrite declined", 0, -1, kBlank, "IDC_RESTORE",
     "Warning|*** Warning: This will OVERWRITE the contents of the target drive=no", 0, kNot, "",
     "", "", false},
    {"backup", 0, kOld, -1, "IDC_BACKUP",
     "Select backup file name (save) ReplayTV backup files (*.rtv), All Files (*)=old", 0,
     kOldStatus, "\n*** Backup complete\n"},
    {"copy system, verified", 0, kOld, kBlank, "IDC_COPY_SYSTEM",
     "Proceed?|You are about to mirror=yes;Done|Copy Complete=ok", 1 << kBlank, kOldStatus,
     "\nVerified: ", "IDC_VERIFY"},
    {"join", 1, kOld, kBlank, "IDC_PATCH",
     "Proceed?|This will attempt=yes;Reset MPEG partition|=no;Done|Patch complete=ok",
     1 << kOld | 1 << kBlank, "ReplayTV Disk 2 of 2"},
    {"patch with a 4GB Photo partition", 0, -1, kRtv4000, "IDC_PATCH",
     "Proceed?|You are about to patch disk =yes;Reset MPEG partition|=no;Reformat photo "
     "partition|=yes;Done|Patch complete=ok",
     1 << kRtv4000, "RTV4000 Disk", "\n  Photo partition size will be 7812608 blocks (3814MB)\n",
     "4GB"},
    {"patch with an undo file, undone", 0, -1, kOld, "IDC_PATCH",
     "Proceed?|You are about to patch disk =yes;Reset MPEG partition|=no;Save undo file "
     "(save) =patch;Done|Patch complete=ok",
     0, kOldStatus, "\nUndo complete\n", "IDC_SAVE_UNDO",
     "Undo from file (open) Quillmar undo files (*.qun), All Files (*)=patch.qun;Proceed?|You are "
     "about to undo from file =yes;Save undo file (save) =undo;Done|Undo complete=ok"},
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void driveListAndEnablingRules() {
    Session s;
    QVERIFY(s.OpenSamples(false));
    QCOMPARE(s.Enabled(), QString("00000000010010"));  // before the first tick: Exit, Copy log
    QVERIFY(QTest::qWaitFor([&] { return s.List()->topLevelItemCount() == kSamples; }));
    const QString rows[kSamples] = {"0|20 GB|ReplayTV Disk, NEEDS TO BE PATCHED|2",
                                    "|||0",
                                    "2|40 GB|RTV4000 Disk, NEEDS TO BE PATCHED|2",
                                    "3|2 GB|May be PC Disk|1",
                                    "4|20 GB|ReplayTV Disk 1 of 2|3",
                                    "5|30 GB|ReplayTV Disk 2 of 2|4",
                                    "6|51 GB|NOT a ReplayTV Disk|0"};
    for (int i = 0; i < kSamples; ++i) {
      QTreeWidgetItem* item = s.List()->topLevelItem(i);
      int image = 0;
      while (item->icon(0).cacheKey() != s.dlg->driveImage(image).cacheKey() && image < 4)
        ++image;
      QCOMPARE(QStringList({item->text(1), item->text(2), item->text(3), QString::number(image)})
                   .join('|'),
               rows[i]);
      QCOMPARE(item->text(0),
               i == kMissing ? "Empty" : QString::fromStdString(DriveTable[i].model));
      QCOMPARE(item->text(4), QString::fromStdString(s.drives[i]));
    }

    for (const RuleRow& row : kRules) {
      const QString where = QString("%1 %2 %3: ").arg(row.system).arg(row.source).arg(row.target);
      s.ChooseSystem(row.system);
      s.Set("IDC_SET_SOURCE", row.source);
      s.Set("IDC_SET_TARGET", row.target);
      QCOMPARE(where + s.Enabled(), where + row.enabled + "1111111");
      s.ChooseSystem(1 - row.system);  // the same selection reached another way
      s.ChooseSystem(row.system);
      QCOMPARE(where + s.Enabled(), where + row.enabled + "1111111");
      QCOMPARE(s.Get<QPushButton>("IDC_PATCH")->text(),
               row.system ? "Make 2-Drive System" : "Patch Target Drive");
    }

    // A drive with PC partitions is set only after a yes; a no clears even one set before.
    const QString pc = "3) " + QString::fromStdString(DriveTable[kPc].model) + " - ( 2GB ) - May";
    for (const char* set : {"IDC_SET_SOURCE", "IDC_SET_TARGET"}) {
      for (const char* answer : {"yes", "no"}) {
        s.Set(nullptr, kPc);
        const QString shown = s.Run(set, QString("Warning|*** WARNING: Drive 3 contains "
                                                 "non-ReplayTV partition information\n*** "
                                                 "WARNING: and may be one of your PC's drives.=") +
                                             answer);
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
        const bool source = set[8] == 'S';
        QCOMPARE(source ? s.dlg->sourceDrive() : s.dlg->targetDrive(), *answer == 'y' ? kPc : -1);
        QCOMPARE(s.Get<QLabel>(source ? "IDC_SOURCE_TEXT" : "IDC_TARGET_TEXT")->text(),
                 *answer == 'y' ? pc + " be PC Disk" : kSelectDrivePrompt);
      }
    }

    // A rescan (F5 or the context menu) finds a grown disk anew: its selection is dropped, the
    // unchanged disk's kept.
    s.Set("IDC_SET_SOURCE", kOld);
    s.Set("IDC_SET_TARGET", kBlank);
    s.Set(nullptr, kOld);
    QVERIFY(MakeBlankImage(s.drives[kBlank], 200000000));
    s.Get<QAction>("IDM_RESCAN")->trigger();
    QCOMPARE(s.dlg->sourceDrive(), int{kOld});
    QCOMPARE(s.dlg->targetDrive(), -1);
    QCOMPARE(s.List()->topLevelItem(kBlank)->text(2), QString("102 GB"));
    QCOMPARE(s.List()->currentItem(), s.List()->topLevelItem(kOld));
    QCOMPARE(s.Log().filter("Quillmar version").size(), 1);  // the start-up tick came once
  }

  void actions_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(std::size(kActions)); ++i)
      QTest::newRow(kActions[i].name) << i;
  }

  void actions() {
    QFETCH(int, row);
    const ActionRow& a = kActions[row];
    Session s;
    QVERIFY(s.OpenSamples());
    s.ChooseSystem(a.system);
    s.Set("IDC_SET_SOURCE", a.source);
    s.Set("IDC_SET_TARGET", a.target);
    if (QByteArray(a.pick).startsWith("IDC_"))
      s.Click(a.pick);
    else
      s.Get<QComboBox>("IDC_PHOTO_SIZE")->setCurrentText(a.pick);
    s.Set(nullptr, kPair1);  // kept unless the list is rebuilt
    const QString enabled = s.Enabled();
    const std::vector<uint64_t> before = s.Hashes();
    QString shown = s.Run(a.button, a.script);
    QVERIFY2(shown.isEmpty(), qPrintable(shown));
    // Backup and restore ask before they disable the controls; every other action after.
    const bool asks_first = QByteArray(a.button) == "IDC_BACKUP" || a.button[5] == 'E';
    for (const QString& state : s.at_prompts)
      QCOMPARE(state, asks_first ? enabled : kAllDisabled);
    QCOMPARE(s.during_copy.count(kAllDisabled), s.during_copy.size());
    shown = *a.undo ? s.Run("IDC_UNDO", a.undo) : "";
    QVERIFY2(shown.isEmpty(), qPrintable(shown));
    const std::vector<uint64_t> after = s.Hashes();
    for (int i = 0; i < kSamples; ++i)
      QVERIFY2((after[i] != before[i]) == (a.changed >> i & 1), qPrintable(QString::number(i)));
    QVERIFY2(("\n" + s.Log().join('\n') + "\n").contains(a.log), qPrintable(s.Log().join('\n')));
    QCOMPARE(s.List()->selectedItems().isEmpty(), a.refreshed);
    QCOMPARE(s.List()->topLevelItem(std::max(a.target, a.source))->text(3), QString(a.status));
    QCOMPARE(s.Enabled(), enabled);
    QVERIFY(!s.dlg->operationRunning());
  }

  // Two names of one disk: listed once. Two that overlap: the copies and the join refuse them
  // before any question, and nothing is written.
  void twoNamesOfOneDisk_data() {
    QTest::addColumn<int>("alias");
    for (size_t i = 0; i < DiskAliases().size(); ++i)
      QTest::newRow(DiskAliases()[i].name) << static_cast<int>(i);
  }

  void twoNamesOfOneDisk() {
    QFETCH(int, alias);
    const DiskAlias& kind = DiskAliases()[static_cast<size_t>(alias)];
    if (kind.needs_root && ::geteuid() != 0)
      QSKIP("attaching a loop device needs root");
    Session s;
    ReplayTvDisk recorder;
    recorder.disk_sectors = 200000;
    QVERIFY(MakeReplayTvDisk(s.dir.File("recorder.img"), recorder));
    std::list<LoopDevice> loops;
    auto [a, b] = kind.names(s.dir.File("recorder.img"), &loops);
    if (a.empty() || b.empty())
      QSKIP("could not make the loop device here");
    const uint64_t before = ImageHash(s.dir.File("recorder.img"));
    QVERIFY(s.Open({a, b}));
    QCOMPARE(s.List()->topLevelItemCount(), kind.overlapping ? 2 : 1);
    for (const char* button : {"IDC_COPY_SYSTEM", "IDC_COPY_MPEG", "IDC_PATCH"}) {
      if (!kind.overlapping)
        break;
      s.ChooseSystem(button[4] == 'P');  // the join
      s.Set("IDC_SET_SOURCE", 0);
      s.Set("IDC_SET_TARGET", 1);
      const QString shown =
          s.Run(button, QString::fromStdString("*** ERROR ***|" + a + " and " + b +
                                               " overlap: they share sectors of one disk.\n"
                                               "Nothing was written.=ok"));
      QVERIFY2(shown.isEmpty(), qPrintable(shown));
    }
    QCOMPARE(ImageHash(s.dir.File("recorder.img")), before);
  }

  // Without an operation Enter presses the push button that has the focus and otherwise
  // closes the window (accepted); Esc closes it (rejected).
  void keys() {
    const std::tuple<const char*, Qt::Key, int> rows[] = {
        {"IDC_COPY_LOG", Qt::Key_Return, -1},  // -1: still open
        {"IDC_DRIVE_LIST", Qt::Key_Return, QDialog::Accepted},
        {"IDC_DRIVE_LIST", Qt::Key_Escape, QDialog::Rejected}};
    for (const auto& [focus, key, result] : rows) {
      Session s;
      QVERIFY(s.Open({s.dir.File("missing")}));
      QApplication::clipboard()->clear();
      s.Get(focus)->setFocus();
      QTest::keyClick(s.Get(focus), key);
      QCOMPARE(s.dlg->isVisible() ? -1 : s.dlg->result(), result);
      QCOMPARE(QApplication::clipboard()->text().startsWith(  // the list, the selection, the log
                   "0) Empty - () - \r\n\r\nSource: Select a drive from the list and click 'Set'"
                   "\r\nTarget: Select a drive from the list and click 'Set'\r\n\r\nQuillmar "),
               result < 0);
    }
  }

  // A copy of some hundred MB: the window's timers keep running and the progress bar shows.
  // Esc and Enter do nothing and the copy completes; or the close box waits until Cancel has
  // stopped the copy and the refresh has run.
  void longCopy_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("Esc and Enter do nothing") << false;
    QTest::newRow("the close box waits for the end") << true;
  }

  void longCopy() {
    QFETCH(bool, close);
    Session s;
    ReplayTvDisk disk, copy;
    disk.disk_sectors = copy.layout_sectors = 620000;
    disk.recordings = {{6002, 2048}, {620000 - 4096, 4096}};
    copy.disk_sectors = 700000;
    QVERIFY(MakeReplayTvDisk(s.dir.File("source"), disk));
    QVERIFY(MakeReplayTvDisk(s.dir.File("target"), copy));
    QVERIFY(s.Open({s.dir.File("source"), s.dir.File("target")}));
    s.Set("IDC_SET_SOURCE", 0);
    s.Set("IDC_SET_TARGET", 1);
    int ticks = 0;
    bool open_meanwhile = false;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
      if (!s.dlg->operationRunning() || QApplication::activeModalWidget() != nullptr)
        return;
      if (++ticks == 3 && close)
        s.dlg->close();
      if (ticks == 3 && !close) {
        QTest::keyClick(s.dlg.get(), Qt::Key_Escape);
        QTest::keyClick(s.dlg.get(), Qt::Key_Return);
      }
      open_meanwhile = s.dlg->isVisible();
      if (ticks == 10 && close)
        QTest::mouseClick(s.Get("CancelCopy"), Qt::LeftButton);
    });
    heartbeat.start(5);
    const QString shown = s.Run("IDC_COPY_MPEG", close ? "Proceed?|=yes"
                                                       : "Proceed?|=yes;Copy Complete|NOTE: You "
                                                         "MUST now apply the patch=ok");
    QVERIFY2(shown.isEmpty(), qPrintable(shown));
    QVERIFY2(ticks >= 10, qPrintable(QString("%1 timer ticks while copying").arg(ticks)));
    QVERIFY(open_meanwhile);
    QVERIFY(!s.during_copy.isEmpty() && s.during_copy.count(kAllDisabled) == s.during_copy.size());
    QVERIFY(s.Get("IDC_PROGRESS")->isHidden() && s.Get("CancelCopy")->isHidden());
    QCOMPARE(s.dlg->isVisible() ? -1 : s.dlg->result(), close ? int{QDialog::Rejected} : -1);
    QCOMPARE(s.Log().filter("*** Copy interrupted at block ").size(), close ? 1 : 0);
    QVERIFY(close ||
            HasPattern(s.drives[1], 620000 - 4096, 4096, Pattern::kRecording, 620000 - 4096));
  }

  // The two numbers after the options reach the first scan: one left empty keeps its place, one
  // out of range is clamped or ignored, with a note. The window keeps its place for the next run.
  void commandLineNumbers() {
    const std::tuple<QStringList, uint, int, const char*> rows[] = {
        {{"267386880", "66000"},
         267386880u,
         66000,
         "136 GB|Drive size will be limited to 267386880 sectors"},
        {{"", "262144"}, kNoDriveSizeLimit, 262144, "153 GB"},
        {{"99999999999"},
         4294967295u,
         0,
         "153 GB|Drive size limit 99999999999 is out of range: "
         "taking the largest, 4294967295 sectors|Drive size will be limited to 4294967295 sectors"},
        {{"-5"},
         4294967295u,
         0,
         "153 GB|Drive size limit -5 is out of range: taking the "
         "largest, 4294967295 sectors|Drive size will be limited to 4294967295 sectors"},
        {{"0", "3000000000"},
         kNoDriveSizeLimit,
         0,
         "153 GB|MPEG cluster size 3000000000 is out "
         "of range: ignored, no cluster size override"}};
    for (const auto& [numbers, limit, cluster, seen] : rows) {
      Session s;
      QVERIFY(MakeBlankImage(s.dir.File("big.img"), 300000000));
      QStringList found;  // the size of the drive, the log's lines about the two numbers
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
          auto* dlg = qobject_cast<CQuillmarDlg*>(window);
          if (dlg == nullptr || dlg->findChild<QTreeWidget*>()->topLevelItemCount() == 0)
            continue;  // the first scan has not come yet
          found << dlg->findChild<QTreeWidget*>()->topLevelItem(0)->text(2);
          for (int i = 0; i < dlg->findChild<QListWidget*>()->count(); ++i)
            found << dlg->findChild<QListWidget*>()->item(i)->text();
          dlg->reject();
        }
      });
      poll.start(20);
      QSettings("Quillmar", "quillmar").remove("window/geometry");
      std::vector<std::string> args = {"--drive", s.dir.File("big.img"), "--log",
                                       s.dir.File("x.log")};
      for (const QString& number : numbers)
        args.push_back(number.toStdString());
      QCOMPARE(CQuillmarApp().InitInstance(args), 0);
      QCOMPARE(g_maxDriveSectors, limit);
      QCOMPARE(g_mpegClusterOverride, cluster);
      QCOMPARE(found.filter(QRegularExpression("^(\\d+ GB|Drive size|MPEG)")).join('|'), seen);
      QVERIFY(FileSize(s.dir.File("x.log")) > 0);
      QVERIFY(!QSettings("Quillmar", "quillmar").value("window/geometry").isNull());
    }
    // A command line that cannot be used opens no window.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--drive", "x.img", "--bogus"}, {"--drive"}, {"--drive", "/"}, {"--log="}}) {
      QCOMPARE(CQuillmarApp().InitInstance(args), 2);
      QVERIFY(!LogWindowRegistered());
    }
  }

  // The window after its first scan, saved to $QUILLMAR_SCREENSHOT_DIR/quillmar-window.png.
  void screenshot() {
    Session s;
    ReplayTvDisk disk;
    disk.disk_sectors = 78165360;  // a 40 GB recorder disk
    disk.p1_length = 40000;
    QVERIFY(MakeReplayTvDisk(s.dir.File("replaytv-5040.img"), disk));
    QVERIFY(MakeBlankImage(s.dir.File("new-320gb.img"), 625142448));
    QVERIFY(s.Open({s.dir.File("replaytv-5040.img"), s.dir.File("new-320gb.img")}));
    s.dlg->resize(s.dlg->sizeHint());
    const QImage shot = s.dlg->grab().toImage();
    QVERIFY(shot.width() >= 600 && shot.height() >= 400);
    const QString folder = qEnvironmentVariable("QUILLMAR_SCREENSHOT_DIR");
    QVERIFY(folder.isEmpty() || shot.save(QDir(folder).filePath("quillmar-window.png")));
  }
};

}  // namespace quillmar::testing

QTEST_MAIN(quillmar::testing::WindowTest)
#include "window_test.moc"
