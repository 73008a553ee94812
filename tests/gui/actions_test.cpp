// The action buttons: each runs its operation between DisableAllControls and the closing
// refresh, backup and restore only refresh once their copy started; the Photo size reaches the
// patch; the clipboard text; the about box.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "gui/about_dlg.h"
#include "base/build_info.h"
#include "disk/drive_table.h"
#include "tests/gui/gui_harness.h"
#include "tests/support/disk_aliases.h"

namespace quillmar {
namespace {

using namespace testing;

// The thirteen controls an operation disables.
const char* const kOperationControls[] = {
    "IDC_BACKUP",       "IDC_RESTORE",    "IDC_PATCH",      "IDC_COPY_SYSTEM", "IDC_COPY_MPEG",
    "IDC_COPY_PHOTO",   "IDC_SET_SOURCE", "IDC_SET_TARGET", "IDC_COPY_LOG",    "IDCANCEL",
    "IDC_SINGLE_DRIVE", "IDC_DUAL_DRIVE", "IDC_PHOTO_SIZE"};

// "1" for each enabled control of kOperationControls.
QString EnabledControls(GuiSession& session) {
  QString pattern;
  for (const char* id : kOperationControls) {
    pattern += session.Control<QWidget>(id)->isEnabled() ? '1' : '0';
  }
  return pattern;
}

const QString kAllDisabled(static_cast<int>(std::size(kOperationControls)), '0');

std::vector<uint64_t> Hashes(const std::vector<std::string>& paths) {
  std::vector<uint64_t> hashes;
  for (const std::string& path : paths) {
    hashes.push_back(FileSize(path) < 0 ? 0 : ImageHash(path));  // "missing.img" stays missing
  }
  return hashes;
}

}  // namespace

class ActionsTest : public testing::SessionTest {
  Q_OBJECT

 private:
  // Takes the enabled state of the controls once, the first time the event loop runs inside
  // the operation (a log line or a progress step drains the window's events).
  void SampleDuringOperation(QTimer* timer, QString* sample) {
    timer->setInterval(1);
    connect(timer, &QTimer::timeout, this, [this, timer, sample] {
      if (!session_->dlg().operationRunning() || !sample->isEmpty())
        return;
      *sample = EnabledControls(*session_);
      timer->stop();
    });
    timer->start();
  }

 private slots:
  // A "no" at the first question: nothing is written, and the window still ends refreshed
  // and enabled by the rules.
  void declinedOperationStillRefreshes_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<int>("system");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("question");
    QTest::newRow("copy system") << QByteArray("IDC_COPY_SYSTEM") << 0 << int{kOld} << int{kBlank}
                                 << "You are about to mirror disk ";
    QTest::newRow("copy MPEG") << QByteArray("IDC_COPY_MPEG") << 0 << int{kOld} << int{kBlank}
                               << "Target disk does not seem to be a ReplayTV disk.";
    QTest::newRow("copy Photo") << QByteArray("IDC_COPY_PHOTO") << 0 << int{kRtv4000} << int{kBlank}
                                << "You are about to copy \nthe 3rd partition";
    QTest::newRow("patch") << QByteArray("IDC_PATCH") << 0 << -1 << int{kOld}
                           << "You are about to patch disk ";
    QTest::newRow("make 2-drive system") << QByteArray("IDC_PATCH") << 1 << int{kOld} << int{kBlank}
                                         << "This will attempt to create a 2 drive system\nwhere ";
  }

  void declinedOperationStillRefreshes() {
    QFETCH(QByteArray, button);
    QFETCH(int, system);
    QFETCH(int, source);
    QFETCH(int, target);
    QFETCH(QString, question);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.ChooseSystem(system);
    s.SetSource(source);
    s.SetTarget(target);
    const QString enabled_before = EnabledControls(s);
    QVERIFY(s.Button(button.constData())->isEnabled());
    QVERIFY(!s.DriveList()->selectedItems().isEmpty());
    const std::vector<uint64_t> before = Hashes(drives_);

    QStringList during_prompt;
    s.ui().on_prompt = [&] { during_prompt << EnabledControls(s); };
    s.ui().Answer(false);
    s.Click(button.constData());

    QCOMPARE(s.ui().questions().size(), size_t{1});
    const Box& asked = s.ui().questions().front();
    QCOMPARE(asked.caption, std::string("Proceed?"));
    QVERIFY2(QString::fromStdString(asked.text).startsWith(question), asked.text.c_str());
    QVERIFY2(QString::fromStdString(asked.text).endsWith("\nDo you really want to proceed?"),
             asked.text.c_str());
    QCOMPARE(during_prompt, QStringList{kAllDisabled});
    QVERIFY(s.DriveList()->selectedItems().isEmpty());  // the list was rebuilt
    QCOMPARE(s.DriveList()->topLevelItemCount(), 7);
    QCOMPARE(EnabledControls(s), enabled_before);
    QVERIFY(Hashes(drives_) == before);
    QVERIFY(!s.dlg().operationRunning());
  }

  // "yes" throughout: the operation runs, the refreshed list shows the new state, and the
  // buttons are enabled again (the labels keep the text of the last Set).
  void operationRunsAndRefreshes_data() {
    QTest::addColumn<int>("system");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("old_status");
    QTest::addColumn<QString>("blank_status");
    QTest::newRow("copy system") << 0 << QByteArray("IDC_COPY_SYSTEM")
                                 << "ReplayTV Disk, NEEDS TO BE PATCHED"
                                 << "ReplayTV Disk, NEEDS TO BE PATCHED";
    QTest::newRow("make 2-drive system") << 1 << QByteArray("IDC_PATCH") << "ReplayTV Disk 1 of 2"
                                         << "ReplayTV Disk 2 of 2";
  }

  void operationRunsAndRefreshes() {
    QFETCH(int, system);
    QFETCH(QByteArray, button);
    QFETCH(QString, old_status);
    QFETCH(QString, blank_status);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.ChooseSystem(system);
    s.SetSource(kOld);
    s.SetTarget(kBlank);
    s.ui().AlwaysYes();
    s.Click(button.constData());
    QCOMPARE(s.DriveList()->topLevelItem(kOld)->text(3), old_status);
    QCOMPARE(s.DriveList()->topLevelItem(kBlank)->text(3), blank_status);
    QVERIFY(s.dlg().targetLabel().endsWith("NOT a ReplayTV Disk"));
    QVERIFY(s.Button(button.constData())->isEnabled());
    if (system == 0) {
      QCOMPARE(s.ui().boxes().size(), size_t{1});
      QCOMPARE(s.ui().boxes().front().text, std::string("Copy Complete"));
      QCOMPARE(ReadSectors(drives_[kBlank], 0, 2), ReadSectors(drives_[kOld], 0, 2));
    }
  }

  // Two names of one disk: the window lists it once. Two that overlap: the copies and the join
  // refuse them with the box before any question (Copy Photo is offered for RTV4000 sources
  // only; the core's tests refuse it). Nothing is written.
  void twoNamesOfOneDiskAreNeverTwoDrives_data() {
    QTest::addColumn<int>("alias");
    for (size_t i = 0; i < DiskAliases().size(); ++i)
      QTest::newRow(DiskAliases()[i].name) << static_cast<int>(i);
  }

  void twoNamesOfOneDiskAreNeverTwoDrives() {
    QFETCH(int, alias);
    const DiskAlias& kind = DiskAliases()[static_cast<size_t>(alias)];
    if (kind.needs_root && ::geteuid() != 0)
      QSKIP("attaching a loop device needs root");
    GuiSession& s = *session_;
    ReplayTvDisk recorder;
    recorder.disk_sectors = 200000;
    QVERIFY(MakeReplayTvDisk(s.File("recorder.img"), recorder));
    std::list<LoopDevice> loops;
    auto [a, b] = kind.names(s.File("recorder.img"), &loops);
    if (a.empty() || b.empty())
      QSKIP("could not make the loop device here");
    const std::vector<uint64_t> before = Hashes({s.File("recorder.img")});
    QVERIFY(s.Open({a, b}));
    QCOMPARE(s.DriveList()->topLevelItemCount(), kind.overlapping ? 2 : 1);
    const std::pair<int, const char*> actions[] = {
        {0, "IDC_COPY_SYSTEM"}, {0, "IDC_COPY_MPEG"}, {1, "IDC_PATCH"}};  // IDC_PATCH: the join
    for (const auto& [system, button] : actions) {
      if (!kind.overlapping)
        break;
      s.ChooseSystem(system);
      s.SetSource(0);
      s.SetTarget(1);
      s.Click(button);
      QCOMPARE(s.ui().boxes().back().text,
               a + " and " + b + " overlap: they share sectors of one disk.\nNothing was written.");
    }
    QCOMPARE(s.ui().boxes().size(), kind.overlapping ? size_t{3} : size_t{0});
    QVERIFY(s.ui().questions().empty());
    QVERIFY(Hashes({s.File("recorder.img")}) == before);
  }

  // "4GB" in the combo box reaches the patch as 7,812,608 sectors.
  void patchTakesThePhotoSize() {
    ReplayTvDisk disk;
    disk.disk_sectors = 30000000;
    disk.layout_sectors = 20000000;
    disk.rtv4000 = true;
    disk.photo_sectors = 204800;
    const std::string path = session_->File("rtv4000-old.img");
    QVERIFY(MakeReplayTvDisk(path, disk));
    QVERIFY(session_->Open({path}));
    GuiSession& s = *session_;
    s.SetTarget(0);
    auto* photo = s.Control<QComboBox>("IDC_PHOTO_SIZE");
    QVERIFY(photo->isEnabled());
    photo->setCurrentIndex(photo->findText("4GB"));
    QCOMPARE(photo->currentIndex(), 13);

    s.ui().AnswerAll({true, false, true});  // patch it, keep the MPEG partition, new Photo
    s.Click("IDC_PATCH");
    QVERIFY2(s.ui().Logged("  Photo partition size will be 7812608 blocks (3814MB)"),
             s.ui().Transcript().c_str());
    QCOMPARE(DriveTable[0].p3_length, 7812608u);
    QCOMPARE(DriveTable[0].p3_start, 30000000u - 7812608u);
    QCOMPARE(s.DriveList()->topLevelItem(0)->text(3), QString("RTV4000 Disk"));
  }

  // A backup of the old disk restored onto the blank one: both copies run with every control
  // disabled and end with a refresh.
  void backupAndRestore() {
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.SetSource(kOld);
    const std::string image = s.File("old.rtv");
    QTimer sampler;
    QString during_copy;
    SampleDuringOperation(&sampler, &during_copy);
    s.ui().ChooseFileAnswer(image);
    s.Click("IDC_BACKUP");

    QCOMPARE(s.ui().file_requests().size(), size_t{1});
    const FileChoiceRequest& saved = s.ui().file_requests().front();
    QVERIFY(saved.save);
    QCOMPARE(saved.title, std::string("Select backup file name"));
    QCOMPARE(saved.default_extension, std::string("rtv"));
    QCOMPARE(saved.filter,
             std::string("ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||"));
    QCOMPARE(FileSize(image), int64_t{(4000 + 10242) * 512});
    QVERIFY(s.LogContains("*** Backup complete"));
    QCOMPARE(during_copy, kAllDisabled);
    QVERIFY(s.DriveList()->selectedItems().isEmpty());
    QVERIFY(s.Button("IDC_BACKUP")->isEnabled());

    s.SetTarget(kBlank);
    s.ui().Answer(true);  // overwrite the target
    s.ui().ChooseFileAnswer(image);
    s.ui().Answer(false);  // no MPEG reset
    s.Click("IDC_RESTORE");
    QCOMPARE(s.ui().questions().size(), size_t{2});
    QCOMPARE(s.ui().questions()[0].caption, std::string("Warning"));
    QVERIFY(s.ui().questions()[0].text.find(drives_[kBlank]) != std::string::npos);
    QCOMPARE(s.ui().questions()[1].caption, std::string("Reset MPEG partition?"));
    const FileChoiceRequest& opened = s.ui().file_requests().back();
    QVERIFY(!opened.save);
    QCOMPARE(opened.title, std::string("Select file to restore from"));
    QVERIFY(s.LogContains("*** Restore complete"));
    QCOMPARE(s.DriveList()->topLevelItem(kBlank)->text(3),
             QString("ReplayTV Disk, NEEDS TO BE PATCHED"));
    QCOMPARE(ReadSectors(drives_[kBlank], 0, 4000 + 10242),
             ReadSectors(drives_[kOld], 0, 4000 + 10242));
    QVERIFY(s.Button("IDC_RESTORE")->isEnabled());
  }

  // With "Save undo file" the undo file is chosen after the confirmation; "Undo from file..."
  // puts the disk back, itself recorded in a second undo file.
  void undoFileRoundTrip() {
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    s.SetTarget(kOld);
    const std::vector<uint64_t> before = Hashes(drives_);
    s.Click("IDC_SAVE_UNDO");
    QVERIFY(s.Control<QCheckBox>("IDC_SAVE_UNDO")->isChecked());
    s.ui().AlwaysYes();
    s.ui().ChooseFileAnswer(s.File("patch.qun"));
    s.Click("IDC_PATCH");
    QCOMPARE(s.ui().file_requests().at(0).title, std::string("Save undo file"));
    QVERIFY(Hashes(drives_) != before);

    s.ui().ChooseFileAnswer(s.File("patch.qun"));
    s.ui().ChooseFileAnswer(s.File("undo.qun"));
    s.Click("IDC_UNDO");
    QVERIFY(s.ui().questions().back().text.find(" are put back") != std::string::npos);
    QVERIFY(s.LogContains("Undo complete"));
    QVERIFY(Hashes(drives_) == before);
    QVERIFY(FileSize(s.File("undo.qun")) > 0);
  }

  // A cancelled file choice or a "no" before any copy leaves everything as it was: no write,
  // no log line, no refresh.
  void refusedBeforeTheCopyChangesNothing_data() {
    QTest::addColumn<bool>("backup");
    QTest::newRow("backup, file choice cancelled") << true;
    QTest::newRow("restore, overwrite declined") << false;
  }

  void refusedBeforeTheCopyChangesNothing() {
    QFETCH(bool, backup);
    QVERIFY(OpenSampleDrives(session_.get(), &drives_));
    GuiSession& s = *session_;
    backup ? s.SetSource(kOld) : s.SetTarget(kBlank);
    const int lines = static_cast<int>(s.LogLines().size());
    const QString enabled = EnabledControls(s);
    const std::vector<uint64_t> before = Hashes(drives_);
    if (backup) {
      s.ui().CancelFileChoice();
    } else {
      s.ui().Answer(false);
    }
    s.Click(backup ? "IDC_BACKUP" : "IDC_RESTORE");
    QCOMPARE(s.ui().file_requests().size(), size_t{backup ? 1u : 0u});
    QCOMPARE(s.ui().questions().size(), size_t{backup ? 0u : 1u});
    QCOMPARE(static_cast<int>(s.LogLines().size()), lines);
    QCOMPARE(s.DriveList()->selectedItems().size(), 1);  // not refreshed
    QCOMPARE(EnabledControls(s), enabled);
    QVERIFY(Hashes(drives_) == before);
  }

  // Two rows, the first for an absent drive; a source set, no target.
  void clipboardText() {
    const std::string old = session_->File("old.img");
    ReplayTvDisk disk;
    disk.disk_sectors = 40000000;
    disk.layout_sectors = 30000000;
    QVERIFY(MakeReplayTvDisk(old, disk));
    QVERIFY(session_->Open({session_->File("missing.img"), old}));
    GuiSession& s = *session_;
    s.SetSource(1);
    s.Click("IDC_COPY_LOG");

    const QString model = QString::fromStdString(DriveTable[1].model);
    QString expected =
        "0) Empty - () - \r\n"
        "1) " +
        model + " - (20 GB) - ReplayTV Disk, NEEDS TO BE PATCHED\r\n" + "\r\n" + "Source: 1) " +
        model + " - ( 20GB ) - ReplayTV Disk, NEEDS TO BE PATCHED\r\n" +
        "Target: Select a drive from the list and click 'Set'\r\n\r\n";
    QVERIFY(!s.ui().lines().empty());
    for (const std::string& line : s.ui().lines()) {
      expected += QString::fromStdString(line) + "\r\n";
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
  }

  // Before the first tick the drive section is empty.
  void clipboardBeforeTheFirstTick() {
    session_->OpenWithoutWaiting({session_->File("missing.img")});
    session_->Click("IDC_COPY_LOG");
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("\r\nSource: Select a drive from the list and click 'Set'\r\n"
                     "Target: Select a drive from the list and click 'Set'\r\n\r\n"));
  }

  void aboutBox() {
    session_->OpenWithoutWaiting({session_->File("missing.img")});
    GuiSession& s = *session_;
    QAction* about = s.dlg().findChild<QAction*>("IDM_ABOUTBOX");
    QVERIFY(about != nullptr);
    QCOMPARE(about->text(), QString("&About Quillmar..."));
    QVERIFY(s.dlg().actions().contains(about));
    QCOMPARE(s.dlg().contextMenuPolicy(), Qt::ActionsContextMenu);

    QString title, version, date, ok;
    QTimer::singleShot(0, this, [&] {
      CAboutDlg* box = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* candidate = qobject_cast<CAboutDlg*>(w); candidate && candidate->isVisible()) {
          box = candidate;
        }
      }
      if (box == nullptr)
        return;
      title = box->windowTitle();
      version = box->findChild<QLabel*>("IDC_ABOUT_VERSION")->text();
      date = box->findChild<QLabel*>("IDC_ABOUT_DATE")->text();
      QPushButton* button = box->findChild<QPushButton*>("IDOK");
      ok = button->text();
      QTest::mouseClick(button, Qt::LeftButton);
    });
    s.Click("AboutButton");
    QCOMPARE(title, QString("About Quillmar"));
    QCOMPARE(version, QString("Quillmar version 2.4"));
    QCOMPARE(date, QString::fromStdString(BuildDateTime()));
    QVERIFY2(QRegularExpression(R"(^[A-Z][a-z]{2} [ 1-3][0-9] \d{4}, \d\d:\d\d:\d\d$)")
                 .match(date)
                 .hasMatch(),
             qPrintable(date));
    QCOMPARE(ok, QString("OK"));
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::ActionsTest)
#include "actions_test.moc"
