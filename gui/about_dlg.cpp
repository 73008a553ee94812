#include "gui/about_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "base/build_info.h"

namespace quillmar {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_strDate(QString::fromStdString(BuildDateTime())),
      m_strVersion(QString::fromLatin1(kVersionText)) {
  setWindowTitle("About Quillmar");
  setObjectName("IDD_ABOUTBOX");

  auto* icon = new QLabel(this);
  icon->setPixmap(QPixmap(":/icons/mainframe-32.png"));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto* version = new QLabel(m_strVersion, this);
  version->setObjectName("IDC_ABOUT_VERSION");
  version->setTextFormat(Qt::PlainText);

  auto* date = new QLabel(m_strDate, this);
  date->setObjectName("IDC_ABOUT_DATE");
  date->setTextFormat(Qt::PlainText);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("IDOK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->setHorizontalSpacing(16);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(date, 1, 1);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setColumnStretch(1, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quillmar
