// The Qt front-end on its own: the real message boxes (text, caption, buttons, no icon), the
// answers they give, the file dialog it sets up, the log list and the progress bar.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "gui/qt_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

// Runs check on the modal dialog of type T once it is up; check closes it.
template <typename T>
void WhenModalShows(QObject* context, std::function<void(T*)> check) {
  auto* poll = new QTimer(context);
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, context, [poll, check] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      check(dialog);
    }
  });
  poll->start();
}

struct BoxSeen {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::Information;
  QList<QMessageBox::StandardButton> buttons;
  Qt::TextFormat format = Qt::AutoText;
  QWidget* parent = nullptr;
};

void Record(QMessageBox* box, BoxSeen* seen) {
  seen->title = box->windowTitle();
  seen->text = box->text();
  seen->icon = box->icon();
  seen->format = box->textFormat();
  seen->parent = box->parentWidget();
  for (QAbstractButton* button : box->buttons())
    seen->buttons << box->standardButton(button);
}

}  // namespace

class QtFrontEndTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QWidget> window_;
  QListWidget* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<QtFrontEnd> front_end_;

 private slots:
  void init() {
    window_ = std::make_unique<QWidget>();
    log_ = new QListWidget(window_.get());
    log_->resize(300, 120);
    progress_ = new QProgressBar(window_.get());
    progress_->hide();
    front_end_ = std::make_unique<QtFrontEnd>(window_.get(), log_, progress_);
    window_->show();
  }

  void cleanup() {
    front_end_.reset();
    window_.reset();
  }

  // Boxes and both kinds of question: the text as given (never markup), the caption, no icon,
  // and the buttons with their answer; escape is "no".
  void boxes_data() {
    QTest::addColumn<int>("kind");  // 0 box, 1 question, 2 the window's question
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("answer");
    QTest::newRow("box") << 0 << int{QMessageBox::Ok} << 0;
    QTest::newRow("yes") << 1 << int{QMessageBox::Yes} << kIdYes;
    QTest::newRow("no") << 1 << int{QMessageBox::No} << kIdNo;
    QTest::newRow("window's yes") << 2 << int{QMessageBox::Yes} << kIdYes;
    QTest::newRow("window's no") << 2 << int{QMessageBox::No} << kIdNo;
    QTest::newRow("escape is no") << 1 << -1 << kIdNo;
  }

  void boxes() {
    QFETCH(int, kind);
    QFETCH(int, button);
    QFETCH(int, answer);
    BoxSeen seen;
    WhenModalShows<QMessageBox>(this, [&](QMessageBox* box) {
      Record(box, &seen);
      if (button < 0) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(static_cast<QMessageBox::StandardButton>(button))->click();
      }
    });
    const std::string text = "Reset the MPEG partition?\n    (indented) <b>not markup</b>";
    int result = 0;
    if (kind == 0) {
      front_end_->ShowMessage(text, "Caption");
    } else {
      result = kind == 1 ? front_end_->AskYesNo(text, "Caption")
                         : front_end_->AskWindowYesNo(text, "Caption");
    }
    QCOMPARE(result, answer);
    QCOMPARE(seen.text, QString::fromStdString(text));
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.title, QString("Caption"));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.parent, window_.get());
    std::sort(seen.buttons.begin(), seen.buttons.end());
    const QList<QMessageBox::StandardButton> buttons =
        kind == 0 ? QList<QMessageBox::StandardButton>{QMessageBox::Ok}
                  : QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No};
    QCOMPARE(seen.buttons, buttons);
  }

  // The lines of a box are the text's own: a long one is not wrapped in two.
  void longLinesAreNotWrapped() {
    const QString text =
        "*** WARNING: Drive 12 contains non-ReplayTV partition information\n"
        "*** WARNING: and may be one of your PC's drives.\n"
        "    Are you sure you want to continue?";
    int widest_line = 0;
    int label_width = -1;
    int label_height = -1;
    int line_spacing = 0;
    WhenModalShows<QMessageBox>(this, [&](QMessageBox* box) {
      QTest::qWait(20);  // laid out
      auto* label = box->findChild<QLabel*>("qt_msgbox_label");
      if (label != nullptr) {
        for (const QString& line : text.split('\n'))
          widest_line = std::max(widest_line, label->fontMetrics().horizontalAdvance(line));
        label_width = label->contentsRect().width();
        label_height = label->contentsRect().height();
        line_spacing = label->fontMetrics().lineSpacing();
      }
      box->button(QMessageBox::No)->click();
    });
    front_end_->AskWindowYesNo(text.toStdString(), "Warning");
    QVERIFY(label_width >= widest_line);
    QVERIFY2(label_height < 4 * line_spacing, qPrintable(QString::number(label_height)));
  }

  void fileDialogIsSetUpFromTheRequest_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("save") << true << false;
    QTest::newRow("open") << false << false;
    QTest::newRow("cancelled") << false << true;
  }

  void fileDialogIsSetUpFromTheRequest() {
    QFETCH(bool, save);
    QFETCH(bool, cancel);
    testing::TempDir dir;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode file_mode = QFileDialog::Directory;
    QString title, suffix;
    QStringList filters;
    bool confirms_overwrite = false;
    const QString chosen = QString::fromStdString(dir.File("backup"));
    if (!save) {
      QFile existing(chosen + ".rtv");
      QVERIFY(existing.open(QIODevice::WriteOnly));
    }
    WhenModalShows<QFileDialog>(this, [&](QFileDialog* dialog) {
      mode = dialog->acceptMode();
      file_mode = dialog->fileMode();
      title = dialog->windowTitle();
      suffix = dialog->defaultSuffix();
      filters = dialog->nameFilters();
      confirms_overwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
      dialog->selectFile(chosen + (save ? "" : ".rtv"));
      QMetaObject::invokeMethod(dialog, cancel ? "reject" : "accept");
    });
    FileChoiceRequest request;
    request.save = save;
    request.title = save ? "Select backup file name" : "Select file to restore from";
    request.filter = "ReplayTV backup files (*.rtv)|*.rtv|All Files (*.*)|*.*||";
    request.default_extension = "rtv";
    std::string path = "unchanged";
    QCOMPARE(front_end_->ChooseFile(request, &path), !cancel);
    QCOMPARE(title, QString::fromStdString(request.title));
    QCOMPARE(mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCOMPARE(file_mode, save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QCOMPARE(suffix, QString("rtv"));
    QCOMPARE(filters, (QStringList{"ReplayTV backup files (*.rtv)", "All Files (*)"}));
    QCOMPARE(confirms_overwrite, true);
    QCOMPARE(QString::fromStdString(path),
             cancel ? QString("unchanged") : chosen + ".rtv");  // the default extension added
  }

  void logListShowsItsNewestLine() {
    front_end_->AddLogLine("first\nsecond");
    QCOMPARE(log_->count(), 1);
    QCOMPARE(log_->item(0)->text(), QString("first\nsecond"));
    for (int i = 0; i < 1000; ++i)
      front_end_->AddLogLine("line " + std::to_string(i));
    QCOMPARE(log_->count(), 1001);
    QVERIFY(log_->verticalScrollBar()->maximum() > 0);
    QCOMPARE(log_->verticalScrollBar()->value(), log_->verticalScrollBar()->maximum());
  }

  void progressBar() {
    front_end_->ProgressShow();
    QVERIFY(progress_->isVisible());
    QCOMPARE(progress_->minimum(), 0);
    QCOMPARE(progress_->maximum(), 100);
    QCOMPARE(progress_->value(), 0);
    front_end_->ProgressSetPos(42);
    QCOMPARE(progress_->value(), 42);
    front_end_->ProgressHide();
    QVERIFY(!progress_->isVisible());
    QCOMPARE(progress_->value(), 42);  // left as it was
    front_end_->ProgressShow();
    QCOMPARE(progress_->value(), 0);  // the next start begins at 0 again
  }
};

}  // namespace quillmar

QTEST_MAIN(quillmar::QtFrontEndTest)
#include "qt_front_end_test.moc"
