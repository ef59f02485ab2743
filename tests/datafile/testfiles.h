#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <filesystem>

// Small helpers the data file tests share for looking at what is on disk.
namespace testfiles {

inline std::filesystem::path toPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

inline QString toQString(const std::filesystem::path &path)
{
    return QString::fromStdU16String(path.u16string());
}

// Every file and folder under `root`, relative to it, sorted.
inline QStringList tree(const std::filesystem::path &root)
{
    QStringList entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        entries << toQString(entry.path().lexically_relative(root));
    }
    entries.sort();
    return entries;
}

inline QByteArray contents(const std::filesystem::path &path)
{
    QFile file(toQString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void write(const std::filesystem::path &path, const QByteArray &bytes)
{
    QFile file(toQString(path));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}

} // namespace testfiles
