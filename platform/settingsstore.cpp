#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

SettingsStore::SettingsStore()
    : m_path(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                 .filePath(QStringLiteral("Tallyweave.conf")))
{
}

SettingsStore::SettingsStore(const QString& filePath) : m_path(filePath) {}

bool SettingsStore::available() const
{
    if (m_path.isEmpty())
        return false;
    const QFileInfo info(m_path);
    if (info.exists())
        return info.isFile() && info.isReadable() && info.isWritable();
    // "Creating the key if it is missing": the folder must exist or be creatable.
    return QDir().mkpath(info.absolutePath()) && QFileInfo(info.absolutePath()).isWritable();
}

QString SettingsStore::read(const QString& name) const
{
    if (!QFileInfo(m_path).isFile())
        return {};
    QSettings settings(m_path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return {};
    return settings.value(name).toString();
}

void SettingsStore::write(const QString& name, const QString& value) const
{
    if (!available())
        return;
    if (!QFileInfo::exists(m_path)) {
        // Created owner-only before anything is in it: the file will hold the mail password.
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.close();
    }
    ::chmod(QFile::encodeName(m_path).constData(), S_IRUSR | S_IWUSR);
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(name, value);
    settings.sync();
    ::chmod(QFile::encodeName(m_path).constData(), S_IRUSR | S_IWUSR);
}

void SettingsStore::remove(const QString& name) const
{
    if (!available() || !QFileInfo(m_path).isFile())
        return;
    QSettings settings(m_path, QSettings::IniFormat);
    if (!settings.contains(name))
        return;
    settings.remove(name);
    settings.sync();
    ::chmod(QFile::encodeName(m_path).constData(), S_IRUSR | S_IWUSR);
}
