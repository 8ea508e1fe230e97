// spherolux-play: plays a camera video or shows a camera photo through the real player.
//
//   spherolux-play [--size WxH] FILE
//
// Drag with the left button to turn the view (release while moving to let it coast), wheel
// or +/- to zoom, arrow keys to turn, Home or R to reset, 0-6 for the view modes (sphere,
// tile, planet, half ball, in-dome, layer, flat), F flip, [ and ] rotate the picture, Space
// play/pause, Page Up/Down seek by 5%, M mute, S snapshot, C start/end a stream recording,
// Esc quit. Files dropped on the window are opened. Snapshots and recordings go to
// ~/Videos/SPHEROLUX Video Converter/.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/system.h"
#include "player_window.h"

int main(int argc, char** argv) {
  spherolux::KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  int width = 1024;
  int height = 640;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) file.clear();
    } else if (argv[i][0] != '-') {
      file = argv[i];
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "usage: spherolux-play [--size WxH] FILE\n");
    return 2;
  }
  spherolux::media::PlayerWindow window;
  window.resize(width, height);
  window.setWindowTitle(QString::fromStdString("spherolux-play " + file));
  window.show();
  std::string error;
  if (!window.OpenFile(file, &error)) {
    std::fprintf(stderr, "spherolux-play: %s: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  return app.exec();
}
