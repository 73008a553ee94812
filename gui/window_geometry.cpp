#include "gui/window_geometry.h"

#include <QSettings>
#include <QWidget>

namespace quillmar {
namespace {

constexpr char kGeometryKey[] = "window/geometry";

QSettings UserSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillmar", "quillmar");
}

}  // namespace

void RestoreWindowGeometry(QWidget* window) {
  const QByteArray geometry = UserSettings().value(kGeometryKey).toByteArray();
  if (!geometry.isEmpty())
    window->restoreGeometry(geometry);
}

void SaveWindowGeometry(const QWidget* window) {
  UserSettings().setValue(kGeometryKey, window->saveGeometry());
}

}  // namespace quillmar
