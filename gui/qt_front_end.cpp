#include "gui/qt_front_end.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSpacerItem>
#include <algorithm>

#include "gui/file_filter.h"

namespace quillmar {
namespace {

constexpr int kProgressMaximum = 100;

// The widest line a box shows whole: Qt's box is as wide as a screen up to 1024 pixels, else
// 480 pixels narrower and at most 1000, less the box's margins around its text.
int LineWidthLimit(const QMessageBox& box) {
  const QScreen* screen = box.screen() != nullptr ? box.screen() : QGuiApplication::primaryScreen();
  const int screen_width = screen != nullptr ? screen->availableGeometry().width() : 1024;
  const int box_width = screen_width <= 1024 ? screen_width : std::min(screen_width - 480, 1000);
  constexpr int kMargins = 60;  // the box's frame and layout margins, with room to spare
  return std::max(box_width - kMargins, 200);
}

// The line broken into lines no wider than limit: after the last '/' or blank that fits, else
// after the last character that fits. Nothing is left out.
QString BreakLine(QString line, const QFontMetrics& metrics, int limit) {
  QString broken;
  while (metrics.horizontalAdvance(line) > limit) {
    qsizetype fits = 1;
    while (fits < line.size() && metrics.horizontalAdvance(line.left(fits + 1)) <= limit)
      ++fits;
    const qsizetype at = std::max(line.lastIndexOf('/', fits - 1), line.lastIndexOf(' ', fits - 1));
    const qsizetype cut = at > 0 ? at + 1 : fits;
    broken += line.left(cut) + '\n';
    line.remove(0, cut);
  }
  return broken + line;
}

// Qt's box wraps a text wider than about 420 pixels, and cuts off what it cannot wrap (a long
// path). Lines wider than the box can be are broken here; a spacer as wide as the longest line in
// the text's column then makes the box wide enough to keep every line as it stands.
void KeepLinesWhole(QMessageBox* box) {
  auto* layout = qobject_cast<QGridLayout*>(box->layout());
  auto* label = box->findChild<QLabel*>("qt_msgbox_label");
  if (layout == nullptr || label == nullptr)
    return;
  const int at = layout->indexOf(label);
  if (at < 0)
    return;
  int row = 0;
  int column = 0;
  int row_span = 0;
  int column_span = 0;
  layout->getItemPosition(at, &row, &column, &row_span, &column_span);
  const QFontMetrics metrics = label->fontMetrics();
  const int limit = LineWidthLimit(*box);
  QStringList lines = box->text().split('\n');
  for (QString& line : lines)
    line = BreakLine(line, metrics, limit);
  box->setText(lines.join('\n'));
  int width = 0;
  for (const QString& line : box->text().split('\n'))
    width = std::max(width, metrics.horizontalAdvance(line));
  const QMargins margins = label->contentsMargins();
  width += margins.left() + margins.right() + 2 * label->margin() + 2;
  layout->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  layout->rowCount(), column, 1, column_span);
}

// A box with the text, the caption and the given buttons, no icon; the text is shown as it
// stands (never read as markup, and broken only where it has its own line breaks).
QMessageBox::StandardButton RunBox(QWidget* owner, const std::string& text,
                                   const std::string& caption,
                                   QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                  QString::fromStdString(text), buttons, owner);
  box.setTextFormat(Qt::PlainText);
  KeepLinesWhole(&box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QtFrontEnd::QtFrontEnd(QWidget* window, QListWidget* log_list, QProgressBar* progress_bar,
                       QWidget* cancel_button)
    : window_(window),
      log_list_(log_list),
      progress_bar_(progress_bar),
      cancel_button_(cancel_button) {}

void QtFrontEnd::AddLogLine(const std::string& text) {
  log_list_->addItem(QString::fromStdString(text));
  log_list_->scrollToBottom();
  if (delegate_ != nullptr)
    delegate_->AddLogLine(text);
}

void QtFrontEnd::ShowMessage(const std::string& text, const std::string& caption) {
  if (delegate_ != nullptr) {
    delegate_->ShowMessage(text, caption);
    return;
  }
  RunBox(window_, text, caption, QMessageBox::Ok);
}

int QtFrontEnd::AskQuestion(const std::string& text, const std::string& caption) {
  QMessageBox::StandardButton answer =
      RunBox(window_, text, caption, QMessageBox::Yes | QMessageBox::No);
  return answer == QMessageBox::Yes ? kIdYes : kIdNo;
}

int QtFrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  if (delegate_ != nullptr)
    return delegate_->AskYesNo(text, caption);
  return AskQuestion(text, caption);
}

int QtFrontEnd::AskWindowYesNo(const std::string& text, const std::string& caption) {
  if (delegate_ != nullptr)
    return delegate_->AskWindowYesNo(text, caption);
  return AskQuestion(text, caption);
}

void QtFrontEnd::ProgressShow() {
  progress_bar_->setRange(0, kProgressMaximum);
  progress_bar_->setValue(0);
  progress_bar_->show();
  if (cancel_button_ != nullptr)
    cancel_button_->show();
  if (delegate_ != nullptr)
    delegate_->ProgressShow();
}

void QtFrontEnd::ProgressSetPos(int pos) {
  progress_bar_->setValue(pos);
  if (delegate_ != nullptr)
    delegate_->ProgressSetPos(pos);
}

void QtFrontEnd::ProgressHide() {
  progress_bar_->hide();
  if (cancel_button_ != nullptr)
    cancel_button_->hide();
  if (delegate_ != nullptr)
    delegate_->ProgressHide();
}

void QtFrontEnd::DrainEvents() {
  QCoreApplication::processEvents();
}

bool QtFrontEnd::ChooseFile(const FileChoiceRequest& request, std::string* path) {
  if (delegate_ != nullptr)
    return delegate_->ChooseFile(request, path);
  QFileDialog dialog(window_, QString::fromStdString(request.title));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.setNameFilters(ConvertFileFilter(request.filter));
  dialog.setDefaultSuffix(QString::fromStdString(request.default_extension));
  if (dialog.exec() != QDialog::Accepted)
    return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty())
    return false;
  *path = QFile::encodeName(chosen.first()).toStdString();
  return true;
}

}  // namespace quillmar
