// The main window clicked as a user would, image files as drives: the enabling rules; each action's
// frame (its questions, nothing enabled meanwhile, a refusal writes nothing); keys; start-up.
#include <QtTest>
#include <QtWidgets>

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "disk/drive_table.h"
#include "gui/quillmar_app.h"
#include "gui/quillmar_dlg.h"
#include "tests/support/disk_aliases.h"
#include "tests/support/disk_image.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {
namespace {

// The controls an operation disables; the enabling rules decide the first seven.
const char* const kControls[] = {
    "IDC_BACKUP",       "IDC_RESTORE",    "IDC_PHOTO_SIZE", "IDC_COPY_PHOTO", "IDC_PATCH",
    "IDC_COPY_SYSTEM",  "IDC_COPY_MPEG",  "IDC_SET_SOURCE", "IDC_SET_TARGET", "IDCANCEL",
    "IDC_SINGLE_DRIVE", "IDC_DUAL_DRIVE", "IDC_COPY_LOG",   "IDC_UNDO"};
const QString kAllDisabled(static_cast<int>(std::size(kControls)), '0');

// The drives OpenSamples makes (kMissing: no such file), and a missing one after the last.
enum Sample { kOld, kMissing, kRtv4000, kPc, kPair1, kPair2, kBlank, kSamples };

struct Session {
  ~Session() {  // the window goes after these
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
  QTimer poll_;
  QStringList script_;
  std::function<void()> before_answer;  // runs once before an answer marked "!" in the script

  bool Open(const std::vector<std::string>& paths, bool wait = true) {
    SetDrivePaths(drives = paths);
    SetLogFilePath(dir.File("quillmar.log"));
    dlg = std::make_unique<CQuillmarDlg>();
    QObject::connect(Get<QProgressBar>("IDC_PROGRESS"), &QProgressBar::valueChanged, dlg.get(),
                     [this] { during_copy << Enabled(); });
    dlg->show();
    poll_.callOnTimeout([this] { AnswerModal(); });
    poll_.start(2);
    return !wait || QTest::qWaitFor([this] { return List()->topLevelItemCount() > 0; }, 10000);
  }

  // The sample drives, made once and copied for each session.
  bool OpenSamples(bool wait = true) {
    static const TempDir at;
    static const bool ok =  // sizes in sectors; sparse image files
        MakeReplayTvPair(at.File("pair1"), at.File("pair2"), Recorder(40000000), 60000000) &&
        MakeReplayTvDisk(at.File("old"), Recorder(40000000, false, 30000000)) &&
        MakeReplayTvDisk(at.File("rtv4000"), Recorder(80000000, true, 60000000, 204800)) &&
        MakePcDisk(at.File("pc"), 4000000, PcDisk::kLinux) &&
        MakeBlankImage(at.File("blank"), 100000000);
    std::vector<std::string> paths;
    for (auto name : {"old", "missing", "rtv4000", "pc", "pair1", "pair2", "blank", "gone"}) {
      paths.push_back(dir.File(name));
      if (FileSize(at.File(name)) >= 0 && !CopyImage(at.File(name), paths.back()))
        return false;
    }
    return ok && Open(paths, wait);
  }
  template <typename T = QWidget>
  T* Get(const char* id) {
    return dlg->findChild<T*>(id);
  }
  QTreeWidget* List() { return Get<QTreeWidget>("IDC_DRIVE_LIST"); }
  QString Enabled() {  // "1" for each enabled control of kControls
    QString pattern;
    for (const char* id : kControls)
      pattern += Get(id)->isEnabled() ? '1' : '0';
    return pattern;
  }
  void Click(const char* id) { Get<QAbstractButton>(id)->click(); }  // nothing when disabled
  void Select(int row) {  // a row of the drive list; -1: none
    row < 0 ? List()->clearSelection() : List()->setCurrentItem(List()->topLevelItem(row));
  }
  // Chooses the system type (0: single drive), then the source and the target (-1: none); the
  // warning a drive with PC partitions (kPc) gets is answered `answer`. As Run returns.
  QString Choose(int system, int source, int target, const QString& answer = "") {
    const QString warning = "Warning|*** WARNING: Drive 3 contains non-ReplayTV=" + answer;
    Click(system == 0 ? "IDC_SINGLE_DRIVE" : "IDC_DUAL_DRIVE");
    Select(source);
    const QString shown = Run("IDC_SET_SOURCE", source == kPc ? warning : "");
    Select(target);
    return shown + Run("IDC_SET_TARGET", target == kPc ? warning : "");
  }
  // Clicks a button, the prompts scripted as "start=answer;...": yes, no, ok, esc, a file name in
  // the session's folder, or none (cancel). "" when the prompts were the script's, else them.
  QString Run(const char* button, const QString& script) {
    script_ = script.split(';', Qt::SkipEmptyParts);
    seen = at_prompts = during_copy = QStringList();
    Click(button);
    bool same = seen.size() == script_.size();
    for (qsizetype i = 0; same && i < seen.size(); ++i)
      same = seen[i].startsWith(script_[i].section('=', 0, -2));
    return same ? QString() : "shown:\n" + seen.join("\n");
  }
  qsizetype Logged(const char* start) {  // log lines that start so
    return Get<QListWidget>("IDC_LOG")->findItems(start, Qt::MatchStartsWith).size();
  }
  std::vector<uint64_t> Hashes() {
    std::vector<uint64_t> hashes;
    for (const std::string& path : drives)
      hashes.push_back(FileSize(path) < 0 ? 0 : ImageHash(path));
    return hashes;
  }

  // A box shows its text as it stands: plain, no icon, every line whole on one line, the box on
  // the screen. A prompt past the script is answered no (a box: ok; a file dialog: cancel).
  void AnswerModal() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (box == nullptr && files == nullptr)
      return;
    QString answer = seen.size() < script_.size() ? script_[seen.size()].section('=', -1) : "";
    if (answer.endsWith('!') && before_answer) {
      answer.chop(1);
      std::exchange(before_answer, nullptr)();
    }
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
      plain &= label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width();
    plain &= box->frameGeometry().width() <= box->screen()->availableGeometry().width();
    seen << (plain ? "" : "NOT PLAIN ") + box->windowTitle() + "|" + box->text();
    QAbstractButton* button = box->button(answer == "yes"  ? QMessageBox::Yes
                                          : answer == "ok" ? QMessageBox::Ok
                                                           : QMessageBox::No);
    if (button != nullptr && answer != "esc")
      return button->click();
    QTest::keyClick(box, Qt::Key_Escape);
  }
};

// The rules: backup, restore, Photo size, copy Photo, patch, copy system, copy MPEG enabled.
struct RuleRow {
  int system, source, target;
  const char* enabled;
  const char* answer;  // to the warning a drive with PC partitions gets (kPc)
};
const RuleRow kRules[] = {
    {0, -1, -1, "0000000", ""},           {0, kOld, kBlank, "1100111", ""},
    {0, kOld, kOld, "1100100", ""},       {0, -1, kRtv4000, "0111100", ""},
    {0, kRtv4000, kBlank, "1101111", ""}, {0, kOld, kRtv4000, "1110111", ""},
    {0, kMissing, kBlank, "0100100", ""}, {0, kBlank, kMissing, "1000000", ""},
    {0, kOld, -1, "1000000", ""},         {1, kOld, kBlank, "1100100", ""},
    {1, kOld, kOld, "1100000", ""},       {1, -1, kRtv4000, "0111000", ""},
    {1, kRtv4000, kBlank, "1101100", ""},

    {0, kPc, kBlank, "1100111", "yes"},   {0, kOld, kPc, "1000000", "esc"},
    {1, kPc, kOld, "0100000", "no"}};

struct ActionRow {
  const char* name;
  int system, source, target;
  const char* button;
  const char* script;     // the prompts and their answers (Session::Run)
  int changed;            // a bit for each drive that must change; the others stay identical
  const char* status;     // the target's status afterwards (the source's without a target)
  const char* log = "";   // the start of a line the run logs
  const char* pick = "";  // a choice ticked first, or the Photo size chosen first
  const char* undo = "";  // then "Undo from file..." with this script
};
const char kOldStatus[] = "ReplayTV Disk, NEEDS TO BE PATCHED";
const char kNot[] = "NOT a ReplayTV Disk";
const ActionRow kActions[] = {
    {"copy system, no", 0, kOld, kBlank, "IDC_COPY_SYSTEM", "Proceed?=no", 0, kNot},
    {"copy MPEG, no", 0, kOld, kBlank, "IDC_COPY_MPEG", "Proceed?=no", 0, kNot},
    {"copy Photo, no", 0, kRtv4000, kBlank, "IDC_COPY_PHOTO", "Proceed?=no", 0, kNot},
    {"patch, no", 0, -1, kOld, "IDC_PATCH", "Proceed?=no", 0, kOldStatus},
    {"join, no", 1, kOld, kBlank, "IDC_PATCH", "Proceed?=no", 0, kNot},
    {"patch, undo file not chosen", 0, -1, kOld, "IDC_PATCH",
     "Proceed?=yes;Reset MPEG=no;Save undo file (save) Quillmar undo files (*.qun), All Files (*)=;"
     "*** ERROR ***|*** ERROR: No undo file was chosen=ok;*** ERROR ***|*** "
     "ERROR: The patch is not complete.\n           Done: nothing.=ok",
     0, kOldStatus, "", "IDC_SAVE_UNDO"},
    {"backup, file not chosen", 0, kOld, -1, "IDC_BACKUP", "Select backup file=", 0, kOldStatus},
    {"restore, overwrite declined", 0, -1, kBlank, "IDC_RESTORE", "Warning=no", 0, kNot},
    {"backup", 0, kOld, -1, "IDC_BACKUP",
     "Select backup file name (save) ReplayTV backup files (*.rtv), All Files (*)=old", 0,
     kOldStatus, "*** Backup complete"},
    {"copy system, verified", 0, kOld, kBlank, "IDC_COPY_SYSTEM", "Proceed?=yes;Done=ok",
     1 << kBlank, kOldStatus, "Verified: ", "IDC_VERIFY"},
    {"join", 1, kOld, kBlank, "IDC_PATCH", "Proceed?=yes;Reset MPEG=no;Done=ok",
     1 << kOld | 1 << kBlank, "ReplayTV Disk 2 of 2"},
    {"patch with a 4GB Photo partition", 0, -1, kRtv4000, "IDC_PATCH",
     "Proceed?=yes;Reset MPEG=no;Reformat photo=yes;Done=ok", 1 << kRtv4000, "RTV4000 Disk",
     "  Photo partition size will be 7812608 blocks (3814MB)", "4GB"},
    {"patch with an undo file, undone", 0, -1, kOld, "IDC_PATCH",
     "Proceed?=yes;Reset MPEG=no;Save undo file=patch;Done=ok", 0, kOldStatus, "Undo complete",
     "IDC_SAVE_UNDO", "Undo from file (open) =patch.qun;Proceed?=yes;Save undo file=undo;Done=ok"}};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void driveListAndEnablingRules() {
    Session s;
    QVERIFY(s.OpenSamples(false));
    QCOMPARE(s.Enabled(), QString("00000000010010"));  // before the first tick: Exit, Copy log
    QVERIFY(QTest::qWaitFor([&] { return s.List()->topLevelItemCount() == kSamples; }));
    const QStringList rows =  // index, size (or "Empty"), picture
        QString("0|20 GB|2;|Empty|0;2|40 GB|2;3|2 GB|1;4|20 GB|3;5|30 GB|4;6|51 GB|0").split(';');
    for (int i = 0; i < kSamples; ++i) {
      QTreeWidgetItem* item = s.List()->topLevelItem(i);
      QCOMPARE(item->text(1) + "|" + item->text(i == kMissing ? 0 : 2), rows[i].chopped(2));
      QCOMPARE(item->icon(0).cacheKey(), s.dlg->driveImage(rows[i].back().digitValue()).cacheKey());
      QCOMPARE(item->text(4), QString::fromStdString(s.drives[i]));
    }

    // A drive with PC partitions is set only after a yes; a no (or Esc) clears even one set before.
    for (const RuleRow& row : kRules) {
      const QString where = QString::number(&row - kRules) + ": ";
      const QString shown = s.Choose(row.system, row.source, row.target, row.answer);
      QCOMPARE(where + shown + s.Enabled(), where + row.enabled + "1111111");
    }

    // A rescan finds a grown disk anew: its selection is dropped, the unchanged disk's kept.
    s.Choose(1, kOld, kBlank);
    s.Select(kOld);
    QVERIFY(MakeBlankImage(s.drives[kBlank], 200000000));
    s.Get<QAction>("IDM_RESCAN")->trigger();
    QCOMPARE(QPoint(s.dlg->sourceDrive(), s.dlg->targetDrive()), QPoint(kOld, -1));
    QCOMPARE(s.List()->topLevelItem(kBlank)->text(2), QString("102 GB"));
    QCOMPARE(s.List()->currentItem(), s.List()->topLevelItem(kOld));

    // A disk swapped since the list was made is refused before any question, and not written; the
    // drives are to be chosen again.
    s.Choose(0, kOld, kBlank);
    std::filesystem::rename(s.drives[kPc], s.drives[kBlank]);
    const uint64_t swapped = ImageHash(s.drives[kBlank]);
    const QString shown =
        s.Run("IDC_COPY_SYSTEM", QString("*** ERROR ***|*** ERROR: Drive %1 (%2) changed=ok")
                                     .arg(kBlank)
                                     .arg(QString::fromStdString(s.drives[kBlank])));
    QVERIFY2(shown.isEmpty() && ImageHash(s.drives[kBlank]) == swapped, qPrintable(shown));
    QCOMPARE(QPoint(s.dlg->sourceDrive(), s.dlg->targetDrive()), QPoint(-1, -1));  // chosen again

    // Swapped while the question waited: refused at the first write, chosen again all the same.
    s.Choose(0, kOld, kRtv4000);
    const QString refusal = QString("*** ERROR ***|*** ERROR: Drive %1 (%2) changed=ok")
                                .arg(kRtv4000)
                                .arg(QString::fromStdString(s.drives[kRtv4000]));
    s.before_answer = [&] { std::filesystem::rename(s.drives[kPair1], s.drives[kRtv4000]); };
    const QString answered = s.Run("IDC_COPY_SYSTEM", "Proceed?=yes!;" + refusal);
    QVERIFY2(answered.isEmpty(), qPrintable(answered));
    QCOMPARE(QPoint(s.dlg->sourceDrive(), s.dlg->targetDrive()), QPoint(-1, -1));
    // The same while the undo file is chosen, after the first write's check.
    s.Choose(0, kOld, kRtv4000);
    s.Click("IDC_SAVE_UNDO");
    s.before_answer = [&] { std::filesystem::rename(s.drives[kPair2], s.drives[kRtv4000]); };
    const QString chosen =
        s.Run("IDC_COPY_SYSTEM", "Proceed?=yes;Save undo file=u.qun!;" + refusal);
    QVERIFY2(chosen.isEmpty() && !QFile::exists(QString::fromStdString(s.dir.File("u.qun"))),
             qPrintable(chosen));
    QCOMPARE(QPoint(s.dlg->sourceDrive(), s.dlg->targetDrive()), QPoint(-1, -1));
    s.Click("IDC_SAVE_UNDO");

    // A line wider than the screen (offscreen: 800 pixels) is broken, after a '/' where one fits.
    const QString text = "Drive 1 (/media/" + QString("disk").repeated(40) + "/a.img) changed";
    s.seen = s.script_ = QStringList();  // the box is past the script: closed with Esc
    LogAndShow(text.toStdString(), "Caption");
    QVERIFY2(s.seen.size() == 1 && s.seen[0].startsWith("Caption|Drive 1 (/media/\n"),
             qPrintable(s.seen.join('\n')));
    QCOMPARE(s.seen[0].remove('\n'), "Caption|" + text);
  }

  void actions() {
    for (const ActionRow& a : kActions) {
      qInfo("%s", a.name);  // the row the next failure is of
      Session s;
      QVERIFY(s.OpenSamples());
      s.Choose(a.system, a.source, a.target);
      *a.pick == 'I' ? s.Click(a.pick) : s.Get<QComboBox>("IDC_PHOTO_SIZE")->setCurrentText(a.pick);
      s.Select(kPair1);  // kept unless the list is rebuilt
      const QString enabled = s.Enabled();
      const std::vector<uint64_t> before = s.Hashes();
      QString shown = s.Run(a.button, a.script);
      shown += *a.undo ? s.Run("IDC_UNDO", a.undo) : "";  // after the action
      QVERIFY2(shown.isEmpty(), qPrintable(shown));
      // Backup and restore ask before they disable the controls (and refresh nothing when refused
      // then); every other action after.
      const bool asks_first = QByteArray(a.button) == "IDC_BACKUP" || a.button[5] == 'E';
      QCOMPARE(s.at_prompts.count(asks_first ? enabled : kAllDisabled), s.at_prompts.size());
      QCOMPARE(s.during_copy.count(kAllDisabled), s.during_copy.size());
      const std::vector<uint64_t> after = s.Hashes();
      for (int i = 0; i < kSamples; ++i)
        QVERIFY2((after[i] != before[i]) == (a.changed >> i & 1), qPrintable(QString::number(i)));
      QVERIFY2(s.Logged(a.log) > 0, a.log);
      QCOMPARE(s.List()->selectedItems().isEmpty(), !asks_first || *a.log);
      QCOMPARE(s.List()->topLevelItem(std::max(a.target, a.source))->text(3), QString(a.status));
      QCOMPARE(s.Enabled(), enabled);
    }
  }

  // Two names that overlap (a second name of the very same disk is left out of the list, as the
  // drives tests check): the copies and the join refuse them before any question, writing nothing.
  void twoNamesOfOneDisk() {
    for (const DiskAlias& kind : DiskAliases()) {
      if (!kind.overlapping)
        continue;
      Session s;
      QVERIFY(MakeReplayTvDisk(s.dir.File("recorder.img"), Recorder(200000)));
      std::list<LoopDevice> loops;
      auto [a, b] = kind.names(s.dir.File("recorder.img"), &loops);
      if (a.empty() || b.empty()) {  // a loop device needs root
        qWarning("%s: skipped, no loop device here", kind.name);
        continue;
      }
      const uint64_t before = ImageHash(s.dir.File("recorder.img"));
      QVERIFY2(s.Open({a, b}), kind.name);
      QVERIFY2(s.List()->topLevelItemCount() == 2, kind.name);
      for (const char* button : {"IDC_COPY_SYSTEM", "IDC_COPY_MPEG", "IDC_PATCH"}) {
        s.Choose(button[4] == 'P', 0, 1);  // a dual-drive system for the join
        const std::string refusal = "*** ERROR ***|" + a + " and " + b + " overlap=ok";
        const QString shown = s.Run(button, QString::fromStdString(refusal));
        QVERIFY2(shown.isEmpty(), qPrintable(kind.name + shown));
      }
      QVERIFY2(ImageHash(s.dir.File("recorder.img")) == before, kind.name);
    }
  }

  // A copy of some hundred MB, the window alive and the progress bar shown: Esc and Enter do
  // nothing; or the close box waits until Cancel has stopped the copy and the refresh has run.
  void longCopy() {
    for (bool close : {false, true}) {
      Session s;
      QVERIFY(MakeReplayTvDisk(s.dir.File("source"), Recorder(620000)));
      QVERIFY(MakeReplayTvDisk(s.dir.File("target"), Recorder(700000, false, 620000)));
      QVERIFY(s.Open({s.dir.File("source"), s.dir.File("target")}));
      s.Choose(0, 0, 1);
      int ticks = 0;
      bool open_meanwhile = true;
      QTimer heartbeat;
      QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (!s.dlg->operationRunning() || QApplication::activeModalWidget() != nullptr)
          return;
        if (++ticks == 3) {
          QTest::keyClick(s.dlg.get(), Qt::Key_Escape);
          QTest::keyClick(s.dlg.get(), Qt::Key_Return);
          if (close)
            s.dlg->close();  // the close box
        }
        open_meanwhile = open_meanwhile && s.dlg->isVisible();
        if (ticks == 10 && close)
          QTest::mouseClick(s.Get("CancelCopy"), Qt::LeftButton);
      });
      heartbeat.start(5);
      const QString shown = s.Run(
          "IDC_COPY_MPEG", close ? "Proceed?|=yes;Copy interrupted|*** The copy was stopped=ok"
                                 : "Proceed?|=yes;Copy Complete|=ok");
      QVERIFY2(shown.isEmpty() && ticks >= 10 && open_meanwhile && !s.during_copy.isEmpty() &&
                   s.Get("IDC_PROGRESS")->isHidden() && s.Get("CancelCopy")->isHidden(),
               qPrintable(QString("%1 timer ticks; %2").arg(ticks).arg(shown)));
      QCOMPARE(s.dlg->isVisible() ? -1 : s.dlg->result(), close ? int{QDialog::Rejected} : -1);
      QCOMPARE(s.Logged("*** Copy interrupted at block "), close ? 1 : 0);
    }
  }

  // Start-up: the numbers after the options reach the first scan, a note on one out of range the
  // log; the window keeps its place. Enter presses the focused push button (Copy log), else closes
  // the window; saved to $QUILLMAR_SCREENSHOT_DIR/quillmar-window.png.
  void startUp() {
    Session s;
    QVERIFY(MakeReplayTvDisk(s.dir.File("replaytv-5040.img"), Recorder(78165360)));  // 40 GB
    QVERIFY(MakeBlankImage(s.dir.File("new-320gb.img"), 625142448));
    QString clipboard;
    int result = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* dlg = qobject_cast<CQuillmarDlg*>(QApplication::activeModalWidget());
      auto* list = dlg ? dlg->findChild<QTreeWidget*>() : nullptr;
      if (list == nullptr || list->topLevelItemCount() == 0)
        return;  // the first scan has not come yet
      const QString folder = qEnvironmentVariable("QUILLMAR_SCREENSHOT_DIR", ".");
      clipboard = dlg->grab().save(QDir(folder).filePath("quillmar-window.png")) ? "" : "no PNG";
      list->setCurrentItem(list->topLevelItem(0));
      dlg->findChild<QPushButton*>("IDC_SET_SOURCE")->click();
      dlg->findChild<QWidget*>("IDC_COPY_LOG")->setFocus();
      QTest::keyClick(dlg->findChild<QWidget*>("IDC_COPY_LOG"), Qt::Key_Return);
      clipboard += dlg->isVisible() ? QApplication::clipboard()->text() : "closed";
      list->setFocus();
      QTest::keyClick(list, Qt::Key_Return);
      result = dlg->isVisible() ? -1 : dlg->result();
      dlg->reject();
    });
    poll.start(20);
    QSettings("Quillmar", "quillmar").remove("window/geometry");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(s.dir.path()));  // short names, as a user gives them
    QVERIFY(CQuillmarApp().InitInstance({"--drive", "replaytv-5040.img", "--drive", "new-320gb.img",
                                         "267386880", "2147483648"}) == 0);
    QDir::setCurrent(previous);
    const char* const copied[] = {
        // the list, the selection, then the log
        "\r\n1) new-320gb.img - (136 GB) - NOT a ReplayTV Disk\r\n\r\nSource: 0) replaytv-5040.img "
        "- ( 40GB ) - ReplayTV Disk\r\nTarget: Select a drive from the list",
        "\r\nMPEG cluster size 2147483648 is out of range: ignored, no cluster size override\r\n",
        "\r\nDrive size will be limited to 267386880 sectors\r\n"};
    for (const char* text : copied)
      QVERIFY2(clipboard.startsWith("0) ") && clipboard.contains(text), qPrintable(clipboard));
    QCOMPARE(result, int{QDialog::Accepted});
    QVERIFY(!QSettings("Quillmar", "quillmar").value("window/geometry").isNull());
  }
};

}  // namespace quillmar::testing

QTEST_MAIN(quillmar::testing::WindowTest)
#include "window_test.moc"
