#include "gui/qt_front_end.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QSpacerItem>
#include <algorithm>

#include "gui/file_filter.h"

namespace quillmar {
namespace {

constexpr int kProgressMaximum = 100;

// Qt's box wraps a text wider than about 420 pixels; a spacer as wide as the text's longest line
// in the text's column makes the box wide enough to keep the lines as they stand (up to Qt's
// own limit, a little below the screen's width).
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
  int width = 0;
  for (const QString& line : label->text().split('\n'))
    width = std::max(width, label->fontMetrics().horizontalAdvance(line));
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
