// Texts and file names between the core, which keeps them in UTF-8 and
// std::filesystem, and Qt's UTF-16 QString.
#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace gps {

inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QString FromPath(const std::filesystem::path& file) {
  const std::u8string name = file.u8string();
  return QString::fromUtf8(reinterpret_cast<const char*>(name.data()),
                           static_cast<qsizetype>(name.size()));
}

inline std::filesystem::path ToPath(const QString& file) {
  const QByteArray name = file.toUtf8();
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace gps
