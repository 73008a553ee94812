// The main window after its first scan with an old ReplayTV disk and a larger blank disk:
// every text fits its control, and a PNG of the window is written for the documentation
// (to $QUILLMAR_SCREENSHOT_DIR/quillmar-window.png when that folder is given).
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>

#include "tests/gui/gui_harness.h"

namespace quillmar {
namespace {

using namespace testing;

// Text of a widget that could be clipped, with the width it needs and the width it has.
struct Fit {
  QString what;
  int needed;
  int available;
};

std::vector<Fit> TextFits(QWidget* window) {
  std::vector<Fit> fits;
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty() || !button->isVisible())
      continue;
    fits.push_back({button->text(), button->sizeHint().width(), button->width()});
  }
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->text().isEmpty() || !label->isVisible())
      continue;
    const int frame = 2 * (label->frameWidth() + label->margin()) + label->indent();
    fits.push_back({label->text(), label->fontMetrics().horizontalAdvance(label->text()) + frame,
                    label->width()});
  }
  for (QGroupBox* group : window->findChildren<QGroupBox*>()) {
    fits.push_back({group->title(), group->fontMetrics().horizontalAdvance(group->title()) + 16,
                    group->width()});
  }
  for (QComboBox* combo : window->findChildren<QComboBox*>()) {
    fits.push_back({combo->currentText(), combo->sizeHint().width(), combo->width()});
  }
  return fits;
}

// Works in a folder for as long as it exists.
struct CurrentFolder {
  explicit CurrentFolder(const QString& folder) : entered(QDir::setCurrent(folder)) {}
  ~CurrentFolder() { QDir::setCurrent(previous); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;
  QString previous = QDir::currentPath();
  bool entered;
};

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void windowAfterTheFirstScan() {
    const int failures = SupportFailureCount();
    {
      GuiSession s;
      // Drives named relative to the session's folder, as a user in that folder would name
      // them: the log then reads as it would for them.
      CurrentFolder inside(QString::fromStdString(s.dir().path()));
      QVERIFY(inside.entered);
      const std::string old = "replaytv-5040.img";
      const std::string blank = "new-320gb.img";
      ReplayTvDisk disk;
      disk.disk_sectors = 78165360;  // a 40 GB recorder disk
      disk.p1_length = 40000;
      QVERIFY(MakeReplayTvDisk(old, disk));
      QVERIFY(MakeBlankImage(blank, 625142448));  // a 320 GB new disk
      QVERIFY(s.Open({old, blank}));
      s.dlg().resize(s.dlg().sizeHint());
      QTest::qWait(50);

      QTreeWidget* list = s.DriveList();
      QCOMPARE(list->topLevelItemCount(), 2);
      QCOMPARE(list->topLevelItem(0)->text(3), QString("ReplayTV Disk"));
      QCOMPARE(list->topLevelItem(1)->text(3), QString("NOT a ReplayTV Disk"));
      QCOMPARE(list->topLevelItem(1)->text(4), QString::fromStdString(blank));  // device path

      for (const Fit& fit : TextFits(&s.dlg())) {
        QVERIFY2(fit.needed <= fit.available, qPrintable(QString("\"%1\" needs %2 px, has %3")
                                                             .arg(fit.what)
                                                             .arg(fit.needed)
                                                             .arg(fit.available)));
      }
      // Every cell of the drive list fits its column (the icon in the first).
      for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        for (int column = 0; column < list->columnCount(); ++column) {
          const int needed = list->fontMetrics().horizontalAdvance(item->text(column)) + 8 +
                             (column == 0 ? list->iconSize().width() + 6 : 0);
          QVERIFY2(needed <= list->header()->sectionSize(column),
                   qPrintable(QString("row %1 column %2: \"%3\"")
                                  .arg(row)
                                  .arg(column)
                                  .arg(item->text(column))));
        }
      }

      const QImage shot = s.dlg().grab().toImage();
      QVERIFY(!shot.isNull());
      QVERIFY(shot.width() >= 600 && shot.height() >= 400);
      const QString folder = qEnvironmentVariable("QUILLMAR_SCREENSHOT_DIR");
      if (!folder.isEmpty()) {
        const QString path = QDir(folder).filePath("quillmar-window.png");
        QVERIFY2(shot.save(path), qPrintable(path));
        qInfo("screenshot: %s", qPrintable(path));
      }
    }
    QCOMPARE(SupportFailureCount(), failures);
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::ScreenshotTest)
#include "screenshot_test.moc"
