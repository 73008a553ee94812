#include "gui/progress_row.h"

#include <QProgressBar>
#include <QPushButton>

#include "disk/copy_stop.h"

namespace quillmar {
namespace {

void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy keep_place = widget->sizePolicy();
  keep_place.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(keep_place);
  widget->hide();
}

}  // namespace

QProgressBar* MakeProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName("IDC_PROGRESS");
  bar->setTextVisible(false);
  bar->setMaximumHeight(bar->fontMetrics().height() * 3 / 4 + 4);
  KeepPlaceWhenHidden(bar);
  return bar;
}

QPushButton* MakeCancelCopyButton(QWidget* parent) {
  auto* button = new QPushButton("Cancel", parent);
  button->setObjectName("CancelCopy");
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoDefault(false);
  KeepPlaceWhenHidden(button);
  QObject::connect(button, &QPushButton::clicked, [] { RequestCopyStop(); });
  return button;
}

}  // namespace quillmar
