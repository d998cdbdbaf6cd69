#include "batch/arguments.h"

#include "merge/common/reportfile.h"
#include "office/workbook.h"
#include "platform/blanks.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

void readFlags(const QStringList& args, const FlagSet& flags,
               const std::function<void(const QString& flag, const QString& value)>& take) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& flag = args[i];
        if (flags.switches.contains(flag)) {
            take(flag, QString());
            continue;
        }
        if (!flags.operand.isEmpty() && !flag.startsWith(QLatin1String("--"))) {
            take(QString(), flag);
            continue;
        }
        if (!flags.valued.contains(flag))
            throw UsageError{(flags.operand.isEmpty() ? QStringLiteral("unknown argument '%1'")
                                                      : QStringLiteral("unknown option '%1'"))
                                 .arg(flag)};
        if (i + 1 >= args.size())
            throw UsageError{QStringLiteral("%1 wants a value").arg(flag)};
        take(flag, args[++i]);
    }
}

int positiveNumber(const QString& flag, const QString& value) {
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < 1)
        throw UsageError{QStringLiteral("%1 wants a number of 1 or more, not '%2'").arg(flag, value)};
    return n;
}

int columnLetter(const QString& flag, const QString& value) {
    const int column = value.size() == 1 ? columnNumber(value.toUpper()) : 0;
    if (column == 0)
        throw UsageError{QStringLiteral("%1 wants a column letter A to Z, not '%2'").arg(flag, value)};
    return column;
}

LabelPair labelPair(const QString& flag, const QString& value) {
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    if (colon < 0)
        throw UsageError{QStringLiteral("%1 wants COL:LABEL, not '%2'").arg(flag, value)};
    const int column = columnLetter(flag, value.left(colon));
    const QString label = trimBlanks(value.mid(colon + 1));
    if (label.isEmpty())
        throw UsageError{
            QStringLiteral("%1 wants COL:LABEL with a label after the colon, not '%2'").arg(flag, value)};
    return {column, label};
}

bool PersonalFlags::take(const QString& flag, const QString& value, PersonalMail& personal) {
    if (flag == QLatin1String("--attach-column"))
        personal.attachColumn = columnLetter(flag, value);
    else if (flag == QLatin1String("--cc-column"))
        personal.ccColumn = columnLetter(flag, value);
    else if (flag == QLatin1String("--bcc-column"))
        personal.bccColumn = columnLetter(flag, value);
    else if (flag == QLatin1String("--subject-labels"))
        personal.subjectLabels = true;
    else if (flag == QLatin1String("--html"))
        personal.html = true;
    else
        return false;
    return true;
}

QString reportPath(const QString& flag, const QString& value) {
    if (const QString problem = reportFileProblem(value); !problem.isEmpty())
        throw UsageError{flag + QStringLiteral(": ") + problem};
    return value;
}

QString readUtf8File(const QString& path, QString* cause) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *cause = QStringLiteral("the body file %1 cannot be read").arg(path);
        return {};
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(file.readAll());
    if (decoder.hasError()) {
        *cause = QStringLiteral("the body file %1 is not UTF-8 text").arg(path);
        return {};
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}
