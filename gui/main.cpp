// quillmar: the desktop window. Qt takes its own options out of argv; the rest is ours.
#include <QApplication>
#include <string>
#include <vector>

#include "gui/quillmar_app.h"

int main(int argc, char** argv) {
  using quillmar::CQuillmarApp;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (CQuillmarApp::WantsUsage(args))
    return CQuillmarApp::ShowUsage(args);
  if (!CQuillmarApp::DisplayAvailable(args))
    return CQuillmarApp::ShowNoDisplay(args);
  QApplication qt(argc, argv);
  return CQuillmarApp().InitInstance({argv + 1, argv + argc});
}
