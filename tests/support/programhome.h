#pragma once
// A private home for a started copy of the program: its own settings folder (config/) and runtime
// folder (run/, private to its owner, as Qt insists), headless, in the given locale.
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

inline QProcessEnvironment programEnvironment(const QTemporaryDir& home, const QString& locale) {
    QDir(home.path()).mkpath(QStringLiteral("config"));
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("LC_ALL"), locale);
    return env;
}
