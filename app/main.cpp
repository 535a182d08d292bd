#include <QApplication>
#include <QDir>
#include <cstdio>
#include <string>
#include <vector>

#include "../console/ConsoleForm.h"
#include "../views/MessageLog.h"
#include "../widgets/AppIcon.h"
#include "../widgets/AppStyle.h"
#include "../widgets/WheelGuard.h"
#include "MainWindow.h"
#include "VersionFile.h"
#include "common/StandardDescriptors.h"
#include "common/Version.h"

namespace {
constexpr const char* kUsage =
    "usage: zandorupdate [--log FILE] | zandorupdate -v -f FILE | zandorupdate --version\n"
    "  The desktop application: a firmware file, a list of devices and their update.\n"
    "  --log FILE   the message log's lines also go to the end of FILE\n"
    "  -v -f FILE   write the program's version to FILE and end, without a window\n"
    "  --version    print the version and end\n"
    "  --help       print this and end\n"
    "A file named on the command line is not opened: the program starts with no file.\n";
}  // namespace

int main(int argc, char** argv) {
  // Before Qt or anything else opens a descriptor: a closed standard output or error must not
  // hand its number to the version file, the log or a connection.
  if (const vel::Result opened = vel::OpenStandardDescriptors(); !opened) {
    std::fprintf(stderr, "zandorupdate: %s\n", opened.error().c_str());
    return 1;
  }
  const std::vector<std::string> words(argv + 1, argv + argc);
  // The version file is written before anything needs a display; a caller relying on it learns
  // when it was not.
  if (const auto versionFile = zandorui::VersionFileRequest(words)) {
    if (const vel::Result written = zandorui::WriteVersionFile(*versionFile); !written) {
      std::fprintf(stderr, "zandorupdate: cannot write the version file %s: %s\n",
                   versionFile->c_str(), written.error().c_str());
      return 1;
    }
    return 0;
  }
  // What needs no display is answered before the window system is reached.
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--version") {
      std::printf("%s\n", vel::VersionLine().c_str());
      return 0;
    }
    if (word == "--help" || word == "-h") {
      std::printf("%s", kUsage);
      return 0;
    }
    if (word == "--log") {
      ++i;
    } else if (word.rfind("--", 0) == 0) {
      std::fprintf(stderr, "zandorupdate: option %s is unknown\nTry 'zandorupdate --help'.\n",
                   word.c_str());
      return 2;
    }
  }
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));
  QApplication::setWindowIcon(zandorui::AppIcon());
  zandorui::WheelGuard::Install(app);
  // A file named on the command line is not opened: the program starts with no file.
  zandorui::MainWindow window(QDir::currentPath());
  // --log FILE: the message log's lines also go to the end of FILE.
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] != "--log") continue;
    QString error;
    if (!window.Form().Log().SetLogFile(QString::fromStdString(words[i + 1]), &error)) {
      std::fprintf(stderr, "zandorupdate: %s: %s\n", words[i + 1].c_str(), qPrintable(error));
      return 2;
    }
  }
  window.show();
  return app.exec();
}
