#include "gui/file_filter.h"

#include <QRegularExpression>

namespace quillmar {
namespace {

// The description without a trailing parenthesised pattern list: "Text (*.rtv)" -> "Text".
QString BareDescription(const QString& description) {
  static const QRegularExpression kTrailingPatterns(R"(\s*\([^()]*\)\s*$)");
  QString bare = description;
  bare.remove(kTrailingPatterns);
  return bare.trimmed();
}

QString QtPatterns(const QString& patterns) {
  QStringList converted;
  for (const QString& pattern : patterns.split(';', Qt::SkipEmptyParts)) {
    QString trimmed = pattern.trimmed();
    if (trimmed.isEmpty())
      continue;
    converted << (trimmed == "*.*" ? QString("*") : trimmed);
  }
  return converted.join(' ');
}

}  // namespace

QStringList ConvertFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString patterns = QtPatterns(parts[i + 1]);
    if (description.isEmpty() && patterns.isEmpty())
      break;  // the "||" that ends the list
    if (patterns.isEmpty())
      patterns = "*";
    QString bare = BareDescription(description);
    if (bare.isEmpty())
      bare = patterns;
    filters << QString("%1 (%2)").arg(bare, patterns);
  }
  return filters;
}

}  // namespace quillmar
