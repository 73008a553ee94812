// The window's safety nets under the actions: "Undo from file...", "Save undo file" and "Verify
// copies". The nets themselves are the core's; this only reads the choices.
#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QPushButton;

namespace quillmar {

class SafetyPanel : public QWidget {
 public:
  explicit SafetyPanel(QWidget* parent);

  QPushButton* undoButton() const { return m_undo; }
  // Runs an operation of the window with the nets as chosen: the undo file is asked for at the
  // first write, after the confirmation. The drive found changed since the list at the first
  // write (nothing written), or -1.
  int Run(const std::function<void()>& operation) const;

 private:
  QPushButton* m_undo = nullptr;        // IDC_UNDO
  QCheckBox* m_saveUndo = nullptr;      // IDC_SAVE_UNDO
  QCheckBox* m_verifyCopies = nullptr;  // IDC_VERIFY
};

}  // namespace quillmar
