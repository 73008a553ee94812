// The about box: the program's icon, its version and the date and time it was built, and OK.
#pragma once

#include <QDialog>
#include <QString>

namespace quillmar {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  const QString& version() const { return m_strVersion; }
  const QString& buildDate() const { return m_strDate; }

 private:
  QString m_strDate;     // "Jan 19 2003, 12:54:57"
  QString m_strVersion;  // "Quillmar version 2.4"
};

}  // namespace quillmar
