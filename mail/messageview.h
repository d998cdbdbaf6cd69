#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// A whole message as its reader sees it: the headers a person reads, decoded, the text and HTML
// bodies, and the attached files with their decoded sizes. Read back from the bytes that go out,
// so that what is shown before a mailing is what the recipients get.
struct MessageView {
    bool parsed = false; // false: the bytes are no message, and everything else is empty
    QString from;
    QString to;
    QString cc;
    QString bcc;
    QString subject;
    QString text; // the first text/plain part that is no attachment
    QString html; // the first text/html part that is no attachment
    struct File {
        QString name;
        qint64 size = 0; // decoded bytes
    };
    QList<File> files;
};

MessageView viewMessage(const QByteArray& message);

// A header's value as text: unfolded, its RFC 2047 encoded words (B or Q, in any charset Qt knows)
// decoded one by one, the blanks between two adjacent encoded words dropped.
QString decodeHeaderText(const QByteArray& raw);
