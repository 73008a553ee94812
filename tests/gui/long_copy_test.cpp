// A copy of a few hundred MB: the window keeps repainting and its timers keep firing, the
// progress bar shows and hides, Esc and Enter do nothing, Cancel stops the copy, and a click on
// the close box made meanwhile waits until the operation and its closing refresh have returned.
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

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

  // A recorder disk of about 300 MB as source, one that its system area was mirrored to as
  // target, both set in the window.
  static bool OpenCopyPair(GuiSession* s) {
    ReplayTvDisk disk;
    disk.disk_sectors = kSourceSectors;
    disk.p1_length = kSystemSectors;
    disk.recordings = {{kMpegStart + 1000, 2048}, {kSourceSectors - 4096, 4096}};
    ReplayTvDisk copy_of_it = disk;  // the target as a mirrored system area leaves it
    copy_of_it.disk_sectors = kTargetSectors;
    copy_of_it.layout_sectors = kSourceSectors;
    copy_of_it.recordings.clear();
    if (!MakeReplayTvDisk(s->File("source.img"), disk) ||
        !MakeReplayTvDisk(s->File("target.img"), copy_of_it) ||
        !s->Open({s->File("source.img"), s->File("target.img")})) {
      return false;
    }
    s->SetSource(0);
    s->SetTarget(1);
    return s->Button("IDC_COPY_MPEG")->isEnabled();
  }

  // Clicks Copy MPEG Partition, answering Yes, and calls at_tick with 1, 2, 3, ... from a 5 ms
  // timer while the copy runs; the number of ticks.
  int DuringTheCopy(GuiSession* s, const std::function<void(int)>& at_tick) {
    int ticks = 0;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    connect(&heartbeat, &QTimer::timeout, this, [&] {
      if (s->dlg().operationRunning())
        at_tick(++ticks);
    });
    heartbeat.start();
    s->ui().AlwaysYes();
    QElapsedTimer clock;
    clock.start();
    s->Click("IDC_COPY_MPEG");
    qInfo("copy took %lld ms: %d timer ticks", clock.elapsed(), ticks);
    return ticks;
  }

 private slots:
  void init() { support_failures_ = SupportFailureCount(); }
  void cleanup() { QCOMPARE(SupportFailureCount(), support_failures_); }

  // Esc and Enter do nothing while the copy runs: it completes and the window stays open.
  void windowStaysAliveAndKeysDoNothingDuringTheCopy() {
    GuiSession s;
    QVERIFY(OpenCopyPair(&s));
    PaintCounter painted;
    s.Control<QListWidget>("IDC_LOG")->viewport()->installEventFilter(&painted);
    int paints_at_start = -1;
    bool progress_seen = false;
    bool visible_after_keys = false;
    const int ticks = DuringTheCopy(&s, [&](int tick) {
      if (paints_at_start < 0)
        paints_at_start = painted.paints;
      progress_seen = progress_seen || s.Control<QProgressBar>("IDC_PROGRESS")->isVisible();
      if (tick == 3) {
        QTest::keyClick(&s.dlg(), Qt::Key_Escape);
        QTest::keyClick(&s.dlg(), Qt::Key_Return);
        visible_after_keys = s.dlg().isVisible();
      }
    });
    QVERIFY2(ticks >= 10, qPrintable(QString("only %1 timer ticks while copying").arg(ticks)));
    QVERIFY2(painted.paints > paints_at_start,
             qPrintable(QString("log repainted %1 times").arg(painted.paints - paints_at_start)));
    QVERIFY(progress_seen);
    QVERIFY(s.Control<QProgressBar>("IDC_PROGRESS")->isHidden());
    QVERIFY(visible_after_keys);
    QVERIFY2(s.ui().boxes().size() == 1 && s.ui().boxes().front().caption == "Copy Complete",
             s.ui().Transcript().c_str());
    QVERIFY(s.dlg().isVisible());
    QVERIFY(HasPattern(s.File("target.img"), kMpegStart + 1000, 2048, Pattern::kRecording,
                       kMpegStart + 1000));
    QVERIFY(HasPattern(s.File("target.img"), kSourceSectors - 4096, 4096, Pattern::kRecording,
                       kSourceSectors - 4096));
  }

  // Cancel beside the progress bar stops the copy: no completion, the list refreshed; a click on
  // the close box made meanwhile waits for the operation's end, then closes the window.
  void cancelStopsTheCopyAndTheCloseBoxWaits() {
    GuiSession s;
    QVERIFY(OpenCopyPair(&s));
    QPushButton* cancel = s.Control<QPushButton>("CancelCopy");
    bool visible_after_close = false;
    bool cancelled = false;
    DuringTheCopy(&s, [&](int tick) {
      if (tick == 3) {
        s.dlg().close();  // the close box
        visible_after_close = s.dlg().isVisible();
      } else if (tick > 3 && !cancelled && cancel->isVisible()) {
        QTest::mouseClick(cancel, Qt::LeftButton);  // shown with the progress bar
        cancelled = true;
      }
    });
    QVERIFY(visible_after_close);
    QVERIFY(cancelled);
    QVERIFY2(s.ui().boxes().empty(), s.ui().Transcript().c_str());
    QVERIFY(s.ui().LoggedContaining("*** Copy interrupted at block "));
    QVERIFY(!s.ui().LoggedContaining("Copy Complete"));
    QVERIFY(s.DriveList()->selectedItems().isEmpty());  // refreshed
    QVERIFY(cancel->isHidden());
    QVERIFY(!s.dlg().isVisible());
    QCOMPARE(s.dlg().result(), int{QDialog::Rejected});
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
