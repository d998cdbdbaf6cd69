#include "mail/oauth.h"

#include <QProcess>

#include <optional>

namespace {

// The command's own words about its failure, on one line and not endless.
QString errorOutput(const QByteArray& raw)
{
    QString text = QString::fromLocal8Bit(raw).trimmed();
    text.replace(QLatin1Char('\n'), QLatin1String("; "));
    return text.size() > 500 ? text.left(500) + QStringLiteral("...") : text;
}

// The words of a command line as a POSIX shell splits them, quotes removed, nothing expanded:
// blanks separate words; '...' keeps everything; "..." keeps everything but a backslash before
// " \ $ or `; a backslash outside quotes keeps the next character. Nothing on an unclosed quote.
std::optional<QStringList> splitWords(const QString& line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'') {
            const qsizetype end = line.indexOf(u'\'', i + 1);
            if (end < 0)
                return std::nullopt;
            word += line.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i >= line.size())
                    return std::nullopt;
                const QChar d = line.at(i);
                if (d == u'"')
                    break;
                if (d == u'\\' && i + 1 < line.size() && QStringLiteral("\"\\$`").contains(line.at(i + 1)))
                    word += line.at(++i);
                else
                    word += d;
            }
        } else if (c == u'\\' && i + 1 < line.size()) {
            word += line.at(++i);
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace

QString runTokenCommand(const QString& command, QString* error, int timeoutMs)
{
    const std::optional<QStringList> split = splitWords(command);
    if (!split) {
        *error = QStringLiteral("the token command has an unclosed quote");
        return {};
    }
    const QStringList& words = *split;
    if (words.isEmpty()) {
        *error = QStringLiteral("no token command is set");
        return {};
    }
    QProcess process;
    process.start(words.first(), words.mid(1));
    process.closeWriteChannel(); // a command that waits for input gets none
    if (!process.waitForStarted(10000)) {
        *error = QStringLiteral("the token command %1 cannot be run: %2").arg(words.first(), process.errorString());
        return {};
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *error = QStringLiteral("the token command %1 did not finish within %2 s").arg(words.first()).arg(timeoutMs / 1000);
        return {};
    }
    const QString stderrText = errorOutput(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = process.exitStatus() != QProcess::NormalExit
                     ? QStringLiteral("the token command %1 was killed").arg(words.first())
                     : QStringLiteral("the token command %1 failed with status %2").arg(words.first()).arg(process.exitCode());
        if (!stderrText.isEmpty())
            *error += QStringLiteral(": ") + stderrText;
        return {};
    }
    const QString token = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (token.isEmpty()) {
        *error = QStringLiteral("the token command %1 printed no token").arg(words.first());
        return {};
    }
    error->clear();
    return token;
}

QString TokenSource::token(QString* error)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runs == 0) {
        m_token = runTokenCommand(m_command, &m_error);
        m_runs = 1;
    }
    *error = m_error;
    return m_token;
}

bool TokenSource::renew(QString* error)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_runs >= 2) {
        *error = QString();
        return false;
    }
    m_token = runTokenCommand(m_command, &m_error);
    m_runs = 2;
    *error = m_error;
    return !m_token.isEmpty();
}
