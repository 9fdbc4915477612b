// Texts and paths at the Qt shell's edge: the portable logic speaks UTF-8, Qt QString.
#pragma once

#include <QFile>
#include <QMimeData>
#include <QString>
#include <QUrl>

#include <string>
#include <string_view>
#include <vector>

namespace qtui {

inline QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) { return text.toUtf8().toStdString(); }

// A file name as the file system spells it (bytes that need not be UTF-8 stay as they are).
inline std::string PathFromQt(const QString& path) { return QFile::encodeName(path).toStdString(); }
inline QString PathToQt(const std::string& path) { return QFile::decodeName(path.c_str()); }

// What a screen reader reads for a control with this label: the label without the '&'
// that marks its access key ("&&" stands for one '&').
inline QString AccessibleLabel(std::string_view label) {
  QString out;
  const QString text = ToQt(label);
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 >= text.size()) break;
      ++i;
    }
    out += text[i];
  }
  return out;
}

// The local files of a drop, in the order the desktop gives them; nothing for other data.
inline std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths.push_back(PathFromQt(url.toLocalFile()));
  return paths;
}

}  // namespace qtui
