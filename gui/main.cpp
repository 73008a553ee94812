// quillmar: the desktop window. Qt takes its own options out of argv; the rest is ours.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/quillmar_app.h"

namespace {

QtMessageHandler g_qt_handler = nullptr;

// While the window system starts: Qt's fatal "no Qt platform plugin could be initialized" (a
// display named but not reachable, a platform plugin missing) ends the run with a message and
// exit status 1 instead of an abort. Every other message goes to Qt's own handler.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (g_qt_handler != nullptr)
      g_qt_handler(type, context, message);
    else
      std::fprintf(stderr, "%s\n", qPrintable(message));
    return;
  }
  std::fprintf(stderr,
               "%s\nquillmar: the window system could not be reached.\n"
               "quillmar-cli does the same work on a terminal: quillmar-cli --help\n",
               qPrintable(message));
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  using quillmar::CQuillmarApp;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (CQuillmarApp::WantsUsage(args))
    return CQuillmarApp::ShowUsage(args);
  if (!CQuillmarApp::DisplayAvailable(args))
    return CQuillmarApp::ShowNoDisplay(args);
  g_qt_handler = qInstallMessageHandler(StartupMessage);
  QApplication qt(argc, argv);
  qInstallMessageHandler(g_qt_handler);
  return CQuillmarApp().InitInstance({argv + 1, argv + argc});
}
