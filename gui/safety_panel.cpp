#include "gui/safety_panel.h"

#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ops/safety_nets.h"

namespace quillmar {

SafetyPanel::SafetyPanel(QWidget* parent) : QWidget(parent) {
  m_undo = new QPushButton("Undo from file...", this);
  m_undo->setObjectName("IDC_UNDO");
  m_saveUndo = new QCheckBox("Save undo file", this);
  m_saveUndo->setObjectName("IDC_SAVE_UNDO");
  m_verifyCopies = new QCheckBox("Verify copies", this);
  m_verifyCopies->setObjectName("IDC_VERIFY");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(m_undo);
  column->addWidget(m_saveUndo);
  column->addWidget(m_verifyCopies);
}

int SafetyPanel::Run(const std::function<void()>& operation) const {
  SafetyNets nets;
  nets.verify = m_verifyCopies->isChecked();
  if (m_saveUndo->isChecked())
    nets.undo_path = AskUndoFilePath();
  int changed = -1;
  RunWithSafetyNets(
      nets,
      [&operation] {
        operation();
        return 0;
      },
      &changed);
  return changed;
}

}  // namespace quillmar
