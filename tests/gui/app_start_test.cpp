// Start-up: the command line reaches the settings and the drive map before the window scans,
// the window runs until it is closed, and a command line that cannot be used opens no window.
#include <unistd.h>

#include <QApplication>
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "base/log.h"
#include "gui/quillmar_app.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "tests/gui/gui_harness.h"

namespace quillmar {
namespace {

CQuillmarDlg* OpenWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dlg = qobject_cast<CQuillmarDlg*>(widget); dlg != nullptr && dlg->isVisible()) {
      return dlg;
    }
  }
  return nullptr;
}

}  // namespace

class AppStartTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::GuiSession> session_;  // clean state and a folder

 private slots:
  void init() { session_ = std::make_unique<testing::GuiSession>(); }
  void cleanup() { session_.reset(); }

  // The limit is logged and shrinks the listed size; a second name of the drive is left out.
  void commandLineReachesTheWindow() {
    const std::string drive = session_->File("big.img");
    const std::string link = session_->File("link.img");
    QVERIFY(testing::MakeBlankImage(drive, 300000000));
    QVERIFY(::symlink(drive.c_str(), link.c_str()) == 0);
    QStringList log;
    QString size;
    int rows = 0;
    bool found = false;
    auto* poll = new QTimer(this);
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, this, [&, poll] {
      CQuillmarDlg* dlg = OpenWindow();
      if (dlg == nullptr)
        return;
      auto* list = dlg->findChild<QListWidget*>("IDC_LOG");
      auto* drives = dlg->findChild<QTreeWidget*>("IDC_DRIVE_LIST");
      if (drives->topLevelItemCount() == 0)
        return;  // the first tick has not come yet
      found = true;
      size = drives->topLevelItem(0)->text(2);
      rows = drives->topLevelItemCount();
      for (int i = 0; i < list->count(); ++i)
        log << list->item(i)->text();
      poll->stop();
      dlg->reject();
    });
    poll->start();
    const std::string log_file = session_->File("chosen.log");
    QSettings("Quillmar", "quillmar").remove("window/geometry");
    const int status = CQuillmarApp().InitInstance({"--drive", drive, "--drive", link, "--log",
                                                     log_file, "267386880", "66000", "ignored"});
    delete poll;
    QCOMPARE(status, 0);
    QVERIFY(found);
    QCOMPARE(DrivePath(0), drive);
    QCOMPARE(g_maxDriveSectors, 267386880u);
    QCOMPARE(g_mpegClusterOverride, 66000);
    QVERIFY(log.size() >= 2);
    QVERIFY(log[0].startsWith("Quillmar version 2.4, built on "));
    QCOMPARE(log[1], QString("Drive size will be limited to 267386880 sectors"));
    QCOMPARE(size, QString("136 GB"));
    QCOMPARE(rows, 1);
    QVERIFY(log.contains(QString::fromStdString(link + " is the same disk as " + drive +
                                                " (drive 0); it is left out of the drive list")));
    std::ifstream chosen(log_file);  // --log chose the file: the run's first line is there
    std::string first;
    QVERIFY(std::getline(chosen, first));
    QCOMPARE(QString::fromStdString(first), log[0]);
    // The window's size and position are kept for the next run.
    QVERIFY(!QSettings("Quillmar", "quillmar").value("window/geometry").toByteArray().isEmpty());
  }

  void unusableCommandLineOpensNoWindow_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--drive", "x.img", "--bogus"};
    QTest::newRow("unknown short option") << QStringList{"-x", "262144"};
    QTest::newRow("--drive without a path") << QStringList{"--drive"};
    QTest::newRow("--drive that does not exist") << QStringList{"--drive", "missing.img"};
    QTest::newRow("--drive that is a folder") << QStringList{"--drive", "/"};
    QStringList seventeen;  // each of them a file that could be a drive
    for (int i = 0; i < 17; ++i)
      seventeen << "--drive" << QCoreApplication::applicationFilePath();
    QTest::newRow("a 17th --drive") << seventeen;
    QTest::newRow("--log without a file") << QStringList{"--log="};
  }

  void unusableCommandLineOpensNoWindow() {
    QFETCH(QStringList, args);
    std::vector<std::string> list;
    for (const QString& arg : args)
      list.push_back(arg.toStdString());
    QVERIFY(CQuillmarApp::WantsUsage({"5", "-h"}) && CQuillmarApp::WantsUsage({"-V"}));  // no window
    QCOMPARE(CQuillmarApp().InitInstance(list), 2);
    QVERIFY(OpenWindow() == nullptr);
    QVERIFY(!LogWindowRegistered());
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::AppStartTest)
#include "app_start_test.moc"
