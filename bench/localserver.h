#pragma once
// A benchmark's peer: a Python script that prints "READY PORT" once it listens on 127.0.0.1.
#include <QByteArray>
#include <QProcess>
#include <QString>

#include <cstdio>

// Starts script with Debian's python3 and waits up to waitMs for its first line; the port, or 0
// (said on stderr) when the script did not come up.
inline int startLocalServer(QProcess& server, const QString& script, int waitMs)
{
    server.start(QStringLiteral("/usr/bin/python3"), {script});
    QByteArray ready;
    while (!ready.contains('\n') && server.waitForReadyRead(waitMs))
        ready += server.readAllStandardOutput();
    if (!ready.startsWith("READY ")) {
        std::fprintf(stderr, "%s did not start: %s\n", qPrintable(script), server.readAllStandardError().constData());
        return 0;
    }
    return ready.mid(6).trimmed().toInt();
}
