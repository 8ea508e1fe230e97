// File names from the URLs of a drop.
#pragma once

#include <QList>
#include <QUrl>
#include <string>
#include <vector>

namespace spherolux::platform {

// The local files among `urls` (file: URLs), in order, each as the bytes of its name. A
// name that is not UTF-8 comes as percent-escapes that QUrl keeps as they are; they are
// decoded here to the bytes, where QUrl::toLocalFile() would put replacement characters.
std::vector<std::string> LocalFilePaths(const QList<QUrl>& urls);

}  // namespace spherolux::platform
