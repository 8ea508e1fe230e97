// spherolux: the player and converter of 360-degree photos and videos.
//
//   spherolux [--start=SECONDS] [FILE...]
//   spherolux --converter [FILE...]
//
// The first FILE is opened as if it had been dropped on the window; a video starts SECONDS
// into it (so the program opens the file again when it restarts in another language). With
// --converter only the converter opens, with FILE chosen in it (several FILEs make its
// queue); the program ends when it closes (the desktop entry's "Convert to panorama"). The
// language is the one chosen in the language dialog (Language.ini), else the locale's.
#include <langinfo.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QProcess>
#include <QTranslator>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/mpris.h"
#include "app/player_window.h"
#include "base/log.h"
#include "base/system.h"
#include "dialogs/composite_dlg.h"
#include "screen_recording.h"
#include "ui/bar_logic.h"
#include "ui/settings.h"
#include "ui/skin.h"
#include "ui/strings.h"
#include "ui/tooltip.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// File names reach MediaInfo and the media engine as UTF-8: the program runs in a UTF-8 locale
// even where the user's default is another one.
void UseUtf8Locale() {
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}

// With SPHEROLUX_LOG naming a file, every log line, diagnostics as well as warnings, is
// appended to it instead of going to stderr (bug reports, the end-to-end tests).
std::FILE* g_log_file = nullptr;

void AppendToLogFile(const char* line) {
  std::fprintf(g_log_file, "%s\n", line);
  std::fflush(g_log_file);
}

void OpenLogFile() {
  const char* path = std::getenv("SPHEROLUX_LOG");
  if (path == nullptr || *path == '\0') return;
  g_log_file = std::fopen(path, "a");
  if (g_log_file == nullptr) {
    spherolux::Logf("warning: the log file %s cannot be opened: %s", path, std::strerror(errno));
    return;
  }
  spherolux::SetLogSink(AppendToLogFile);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace spherolux;
  KeepFreedMemoryForReuse();
  OpenLogFile();
  const ui::Environment env = ui::Environment::FromProcess();
  ui::SetUiLanguage(ui::StartupLanguage(env));
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: spherolux [--start=SECONDS] [FILE...]\n"
          "       spherolux --converter [FILE...]\n"
          "       spherolux --version\n"
          "Opens the first FILE (a camera photo or video) in the player, or with --converter the FILEs\n"
          "in the converter alone (several make a queue of jobs).\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("spherolux %s\n", SPHEROLUX_VERSION);
      return 0;
    }
  }
  if (!HasDisplay()) {
    std::fprintf(stderr, "%s\n", ui::LoadString(ui::kStrNoDisplay));
    return 2;
  }

  QApplication app(argc, argv);
  UseUtf8Locale();
  QApplication::setApplicationName("spherolux");
  QApplication::setApplicationDisplayName(QString::fromUtf8(ui::LoadString(ui::kStrAppTitle)));
  QApplication::setDesktopFileName("spherolux");
  QApplication::setFont(ui::SkinFont(14));
  ui::InstallSkinnedTooltips();
  // Qt's own dialogs (the file chooser) in the same language as ours.
  QTranslator qt_texts;
  if (ui::UiLanguage() == ui::Language::kChinese &&
      qt_texts.load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qt_texts);
  }

  // File names as the bytes they are (QApplication has taken its own options out of argv):
  // QApplication::arguments() would turn a name that is not UTF-8 into another name.
  std::vector<std::string> files;
  bool converter_only = false;
  int64_t start_ms = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--converter") == 0)
      converter_only = true;
    else if (std::strncmp(argv[i], "--start=", 8) == 0)
      start_ms = std::max<int64_t>(0, std::llround(std::strtod(argv[i] + 8, nullptr) * 1000.0));
    else if (argv[i][0] != '-')
      files.emplace_back(argv[i]);
  }
  // The one conversion service of the process: every conversion, photo, merge and remux.
  dialogs::DialogOptions converter_options;
  converter_options.environment = env;
  const std::unique_ptr<convert::ConversionService> service =
      convert::ConversionService::Load(ProgramDir(), &converter_options.engine_error);
  converter_options.service = service.get();
  if (converter_only) {
    // The converter on its own, as the player window would open it for its current file.
    dialogs::CCompositeDlg converter(nullptr, converter_options);
    if (files.size() == 1) converter.Preload(files.front(), ui::IsPhotoPath(files.front()));
    if (files.size() > 1) converter.ChooseFiles(files);
    converter.runModal();
    return 0;
  }

  app::WindowOptions options;
  options.environment = env;
  options.service = service.get();
  options.restart = [](const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument);
    return QProcess::startDetached(QApplication::applicationFilePath(), list);
  };
  app::RecorderBridge recorder;  // outlives the window: its renderer points at the recorder
  app::CVideoPlayerDlg window(options);
  recorder.SetWindow(&window);
  window.SetScreenRecorder(&recorder);
  window.SetConverter([&window, &converter_options](const std::string& path, bool is_photo) {
    dialogs::CCompositeDlg converter(&window, converter_options);
    if (!path.empty()) converter.Preload(path, is_photo);
    converter.runModal();
  });
  // The desktop's media keys and player controls, when there is a session bus.
  const app::Mpris mpris(&window);
  window.show();
  window.activateWindow();

  if (!files.empty()) window.OpenOnceShown(files, start_ms);
  return QApplication::exec();
}
