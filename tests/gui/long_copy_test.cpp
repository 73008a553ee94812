// A copy of a few hundred MB: the window keeps repainting and its timers keep firing, the
// progress bar shows and hides, and a close request made meanwhile waits until the operation
// and its closing refresh have returned.
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "tests/gui/gui_harness.h"

namespace quillmar {
namespace {

using namespace testing;

constexpr uint64_t kSourceSectors = 620000;  // about 300 MB from the MPEG partition on
constexpr uint64_t kTargetSectors = 700000;
constexpr uint32_t kSystemSectors = 4000;
constexpr uint64_t kMpegStart = kSystemSectors + 2;

// Counts paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      ++paints;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

class LongCopyTest : public QObject {
  Q_OBJECT

 private:
  int support_failures_ = 0;

 private slots:
  void init() { support_failures_ = SupportFailureCount(); }
  void cleanup() { QCOMPARE(SupportFailureCount(), support_failures_); }

  void windowStaysAliveAndCloseWaitsForTheCopy() {
    GuiSession s;
    const std::string source = s.File("source.img");
    const std::string target = s.File("target.img");
    ReplayTvDisk disk;
    disk.disk_sectors = kSourceSectors;
    disk.p1_length = kSystemSectors;
    disk.recordings = {{kMpegStart + 1000, 2048}, {kSourceSectors - 4096, 4096}};
    QVERIFY(MakeReplayTvDisk(source, disk));
    ReplayTvDisk copy_of_it = disk;  // the target as a mirrored system area leaves it
    copy_of_it.disk_sectors = kTargetSectors;
    copy_of_it.layout_sectors = kSourceSectors;
    copy_of_it.recordings.clear();
    QVERIFY(MakeReplayTvDisk(target, copy_of_it));

    QVERIFY(s.Open({source, target}));
    s.SetSource(0);
    s.SetTarget(1);
    QVERIFY(s.Button("IDC_COPY_MPEG")->isEnabled());

    PaintCounter painted;
    s.Control<QListWidget>("IDC_LOG")->viewport()->installEventFilter(&painted);
    int ticks = 0;
    int paints_at_start = -1;
    bool progress_seen = false;
    bool visible_after_close = false;
    bool visible_after_escape = false;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    connect(&heartbeat, &QTimer::timeout, this, [&] {
      if (!s.dlg().operationRunning())
        return;
      if (paints_at_start < 0)
        paints_at_start = painted.paints;
      ++ticks;
      if (s.Control<QProgressBar>("IDC_PROGRESS")->isVisible())
        progress_seen = true;
      if (ticks == 3) {
        s.dlg().close();  // the close box
        visible_after_close = s.dlg().isVisible();
      } else if (ticks == 4) {
        QTest::keyClick(&s.dlg(), Qt::Key_Escape);
        visible_after_escape = s.dlg().isVisible();
      }
    });
    heartbeat.start();

    s.ui().AlwaysYes();
    QElapsedTimer clock;
    clock.start();
    s.Click("IDC_COPY_MPEG");
    const qint64 elapsed_ms = clock.elapsed();
    heartbeat.stop();
    qInfo("copy took %lld ms: %d timer ticks, %d repaints of the log", elapsed_ms, ticks,
          painted.paints - paints_at_start);

    QVERIFY2(
        ticks >= 10,
        qPrintable(QString("only %1 timer ticks in %2 ms of copying").arg(ticks).arg(elapsed_ms)));
    QVERIFY2(painted.paints > paints_at_start,
             qPrintable(QString("log repainted %1 times").arg(painted.paints - paints_at_start)));
    QVERIFY(progress_seen);
    QVERIFY(s.Control<QProgressBar>("IDC_PROGRESS")->isHidden());
    QVERIFY(visible_after_close);
    QVERIFY(visible_after_escape);

    // The copy finished, the list was refreshed, and only then did the window close.
    QVERIFY2(s.ui().boxes().size() == 1 && s.ui().boxes().front().caption == "Copy Complete",
             s.ui().Transcript().c_str());
    QVERIFY(s.DriveList()->selectedItems().isEmpty());
    QVERIFY(!s.dlg().isVisible());
    QCOMPARE(s.dlg().result(), int{QDialog::Rejected});
    QVERIFY(HasPattern(target, kMpegStart + 1000, 2048, Pattern::kRecording, kMpegStart + 1000));
    QVERIFY(HasPattern(target, kSourceSectors - 4096, 4096, Pattern::kRecording,
                       kSourceSectors - 4096));
  }

  // Without an operation a close request is honoured at once.
  void closeWithoutOperation() {
    GuiSession s;
    QVERIFY(s.Open({s.File("missing.img")}));
    QVERIFY(s.dlg().isVisible());
    QTest::keyClick(&s.dlg(), Qt::Key_Escape);
    QVERIFY(!s.dlg().isVisible());
    QCOMPARE(s.dlg().result(), int{QDialog::Rejected});
  }

  // Enter presses the push button that has the focus, and closes the window otherwise.
  void enterKey() {
    GuiSession s;
    QVERIFY(s.Open({s.File("missing.img")}));
    QTest::keyClick(s.Button("IDC_COPY_LOG"), Qt::Key_Return);
    QVERIFY(s.dlg().isVisible());
    QVERIFY(QGuiApplication::clipboard()->text().contains("0) Empty - () - \r\n"));
    s.DriveList()->setFocus();
    QTest::keyClick(s.DriveList(), Qt::Key_Return);
    QVERIFY(!s.dlg().isVisible());
    QCOMPARE(s.dlg().result(), int{QDialog::Accepted});
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::LongCopyTest)
#include "long_copy_test.moc"
