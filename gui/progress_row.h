// The row under the log: the progress bar of a running copy and, beside it, the Cancel button that
// stops the copy at its next chunk. Both are hidden between copies and keep their place, so the
// log keeps its height when they show.
#pragma once

class QProgressBar;
class QPushButton;
class QWidget;

namespace quillmar {

QProgressBar* MakeProgressBar(QWidget* parent);
// Takes no focus: Enter and Esc do nothing while a copy runs, only a click stops it.
QPushButton* MakeCancelCopyButton(QWidget* parent);

}  // namespace quillmar
