// The main window's size and position, kept between runs in the user's settings (QSettings,
// ~/.config/Quillmar/quillmar.conf).
#pragma once

class QWidget;

namespace quillmar {

// Puts the window where it was when it last closed; a first run keeps the window's own size.
void RestoreWindowGeometry(QWidget* window);
void SaveWindowGeometry(const QWidget* window);

}  // namespace quillmar
