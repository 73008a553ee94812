// quillmar: the desktop window. Qt takes its own options out of argv; the rest is ours.
#include <QApplication>
#include <string>
#include <vector>

#include "gui/quillmar_app.h"

int main(int argc, char** argv) {
  using quillmar::CQuillmarApp;
  if (CQuillmarApp::WantsUsage({argv + 1, argv + argc}))
    return CQuillmarApp::ShowUsage({argv + 1, argv + argc});
  QApplication qt(argc, argv);
  return CQuillmarApp().InitInstance({argv + 1, argv + argc});
}
