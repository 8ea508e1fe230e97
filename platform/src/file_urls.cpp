#include "platform/file_urls.h"

#include <QByteArray>

namespace spherolux::platform {

std::vector<std::string> LocalFilePaths(const QList<QUrl>& urls) {
  std::vector<std::string> paths;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    // A file on another host keeps the form toLocalFile() gives it ("//host/path").
    const QByteArray host = url.host().isEmpty() ? QByteArray() : "//" + url.host().toUtf8();
    paths.push_back((host + QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())).toStdString());
  }
  return paths;
}

}  // namespace spherolux::platform
