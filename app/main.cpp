// quillmar: the desktop window. Qt takes its own options out of argv; the rest is ours.
#include <QApplication>
#include <string>
#include <vector>

#include "app/quillmar_app.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  return quillmar::CQuillmarApp().InitInstance(args);
}
