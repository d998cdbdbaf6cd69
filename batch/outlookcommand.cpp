// tallyweave-batch outlook: the mail-client command's checks and run without a window.
#include "merge/outlook/outlookcommand.h"
#include "batch/commands.h"
#include "mail/mailsettings.h"
#include "merge/outlook/outlookmerge.h"
#include "platform/blanks.h"
#include "platform/settingsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <optional>

namespace {

struct OutlookArguments {
    OutlookMergeSettings settings;
    QString bodyFile;
};

OutlookArguments parseArguments(const QStringList& args) {
    OutlookArguments parsed;
    OutlookMergeSettings& s = parsed.settings;
    bool save = false, send = false, subjectGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& flag = args[i];
        if (flag == QLatin1String("--save")) {
            save = true;
            continue;
        }
        if (flag == QLatin1String("--send")) {
            send = true;
            continue;
        }
        static const QStringList valued = {
            QStringLiteral("--source"),  QStringLiteral("--sheet"),     QStringLiteral("--email-column"),
            QStringLiteral("--start"),   QStringLiteral("--subject"),   QStringLiteral("--body-file"),
            QStringLiteral("--attach"),  QStringLiteral("--pair")};
        if (!valued.contains(flag))
            throw UsageError{QStringLiteral("unknown argument '%1'").arg(flag)};
        if (i + 1 >= args.size())
            throw UsageError{QStringLiteral("%1 wants a value").arg(flag)};
        const QString value = args[++i];
        if (flag == QLatin1String("--source")) {
            s.workbookPath = value;
        } else if (flag == QLatin1String("--sheet")) {
            s.sheet = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--email-column")) {
            s.emailColumn = columnLetter(flag, value);
        } else if (flag == QLatin1String("--start")) {
            s.startLine = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--subject")) {
            s.subject = value;
            subjectGiven = true;
        } else if (flag == QLatin1String("--body-file")) {
            parsed.bodyFile = value;
        } else if (flag == QLatin1String("--attach")) {
            s.attachments.append({QFileInfo(value).fileName(), value});
        } else {
            s.pairs.append(labelPair(flag, value));
        }
    }
    if (save == send)
        throw UsageError{QStringLiteral("exactly one of --save and --send is required")};
    s.saveMode = save;
    if (s.workbookPath.isEmpty() || !subjectGiven || parsed.bodyFile.isEmpty())
        throw UsageError{QStringLiteral("--source, --subject and --body-file are required")};
    if (trimBlanks(s.subject).isEmpty())
        throw UsageError{QStringLiteral("--subject wants a text that is not blank")};
    return parsed;
}

// The refusals before the run, or nothing when it may start.
std::optional<QString> refusal(OutlookArguments& parsed) {
    OutlookMergeSettings& s = parsed.settings;
    if (checkOutlookCommand(s.workbookPath) != OutlookCommandCheck::Ok)
        return QStringLiteral("the workbook %1 does not exist").arg(s.workbookPath);
    QFile body(parsed.bodyFile);
    if (!QFileInfo(parsed.bodyFile).isFile() || !body.open(QIODevice::ReadOnly))
        return QStringLiteral("the body file %1 cannot be read").arg(parsed.bodyFile);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    s.body = utf8.decode(body.readAll());
    if (utf8.hasError())
        return QStringLiteral("the body file %1 is not UTF-8 text").arg(parsed.bodyFile);
    if (s.body.startsWith(QChar(0xFEFF)))
        s.body.remove(0, 1);
    if (trimBlanks(s.body).isEmpty())
        return QStringLiteral("the body file %1 holds nothing but blanks").arg(parsed.bodyFile);
    for (const Attachment& attachment : std::as_const(s.attachments))
        if (!QFileInfo(attachment.path).isFile())
            return QStringLiteral("the attachment %1 does not exist").arg(attachment.path);
    return std::nullopt;
}

class PrintingSink : public OutlookMergeSink {
public:
    explicit PrintingSink(QTextStream& out) : m_out(out) {}

    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& subItems, int image, int, int) override {
        m_out << image;
        for (const QString& field : subItems)
            m_out << '\t' << escapeField(field);
        m_out << '\n';
    }
    bool stopRequested() override { return false; }

    bool began = false;

private:
    QTextStream& m_out;
};

} // namespace

int runOutlookCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString name = QStringLiteral("tallyweave-batch outlook: ");
    OutlookArguments parsed;
    try {
        parsed = parseArguments(args);
    } catch (const UsageError& error) {
        err << name << error.message << '\n' << kOutlookUsage;
        return 2;
    }
    if (const std::optional<QString> cause = refusal(parsed)) {
        err << name << *cause << '\n';
        return 1;
    }
    OutlookMergeSettings& s = parsed.settings;
    s.fromAddress = loadMailServerFields(SettingsStore()).email;

    PrintingSink sink(out);
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    if (sink.began)
        out << "records " << result.records << ", null values " << result.nullValues << ", failures "
            << result.failures << '\n';
    switch (result.outcome) {
    case OutlookMergeOutcome::Finished:
        return 0;
    case OutlookMergeOutcome::SheetMissing:
        err << name << "the workbook has no sheet " << s.sheet << '\n';
        return 1;
    case OutlookMergeOutcome::Cancelled:
        err << name << "cancelled\n";
        return 1;
    case OutlookMergeOutcome::WorkbookFailed:
    case OutlookMergeOutcome::MailerUnavailable:
    case OutlookMergeOutcome::Failed:
        break;
    }
    err << name << result.cause << '\n';
    return 1;
}
