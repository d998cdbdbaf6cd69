#pragma once
// Scripted stand-ins for the seams through which windows speak to the user and the desktop. Each
// one records what it was asked, so a test can check the message, the filter or the opened file,
// and answers from a script the test sets up beforehand.

#include "app/languagefile.h"
#include "platform/appprobe.h"
#include "platform/filedialogs.h"
#include "platform/prompter.h"
#include "platform/shell.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Texts given as "Section.Key" -> text; a missing key gives "Section.Key" itself, so that a test
// sees which key a window used even without a language file.
class FakeTexts : public Texts {
public:
    FakeTexts() = default;
    FakeTexts(std::initializer_list<std::pair<QString, QString>> texts) {
        for (const auto& [key, value] : texts)
            set(key, value);
    }
    void set(const QString& sectionKey, const QString& value) { m_texts.insert(sectionKey.toLower(), value); }
    QString text(const QString& section, const QString& key) const override {
        const QString name = section + QLatin1Char('.') + key;
        return m_texts.value(name.toLower(), name);
    }

private:
    QHash<QString, QString> m_texts;
};

class FakePrompter : public Prompter {
public:
    enum class Kind { Information, Question, Error };
    struct Call {
        Kind kind;
        QString title;
        QString text;
        QString detail;
    };

    void information(const QString& title, const QString& text, const QString& detail = {}) override {
        record({Kind::Information, title, text, detail});
    }
    // Answers in the order queued; No when the queue is empty.
    bool question(const QString& title, const QString& text) override {
        record({Kind::Question, title, text, {}});
        return answers.isEmpty() ? false : answers.dequeue();
    }
    void error(const QString& title, const QString& text, const QString& detail = {}) override {
        record({Kind::Error, title, text, detail});
    }

    QQueue<bool> answers;
    QList<Call> calls;
    std::function<void(const Call&)> onCall; // runs as the box would be on screen

private:
    void record(const Call& call) {
        calls.append(call);
        if (onCall)
            onCall(call);
    }
};

class FakeFileDialogs : public FileDialogs {
public:
    // Paths returned in the order queued; an empty text (cancel) when the queue is empty.
    QString openFileName(const QString& filter) override {
        openFilters.append(filter);
        return openAnswers.isEmpty() ? QString() : openAnswers.dequeue();
    }
    // The type chosen: the next of saveTypes, else the filter's first, as a dialog opens with it.
    QString saveFileName(const QString& filter, const QString& startFolder = {},
                         QString* chosenType = nullptr) override {
        saveFilters.append(filter);
        saveFolders.append(startFolder);
        const QString type = saveTypes.isEmpty() ? pipePatternsOf(filter, {}) : saveTypes.dequeue();
        if (chosenType)
            *chosenType = type;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
    }

    QQueue<QString> openAnswers;
    QQueue<QString> saveAnswers;
    QQueue<QString> saveTypes; // patterns, as "*.xlsx"
    QStringList openFilters;
    QStringList saveFilters;
    QStringList saveFolders;
};

class FakeShell : public Shell {
public:
    void open(const QString& target) override { opened.append(target); }
    QStringList opened;
};

class FakeAppProbe : public AppProbe {
public:
    bool spreadsheetRunning() const override { return spreadsheet; }
    bool wordProcessorRunning() const override { return wordProcessor; }
    bool mailClientRunning() const override { return mailClient; }

    bool spreadsheet = false;
    bool wordProcessor = false;
    bool mailClient = false;
};

// Runs action once dialog is on screen, i.e. from inside its modal loop: the way a test plays the
// user of a dialog that some command shows with exec(). Gives up after timeoutMs.
inline void whenShown(QWidget* dialog, std::function<void()> action, int timeoutMs = 10000) {
    // Owned by the application: a test that ends before the dialog shows must not leak it.
    auto* poll = new QTimer(QCoreApplication::instance());
    QPointer<QWidget> target(dialog);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, target, action, deadline] {
        if (target && target->isVisible()) {
            poll->deleteLater();
            poll->stop();
            action();
        } else if (!target || deadline.hasExpired()) {
            poll->deleteLater();
            poll->stop();
        }
    });
    poll->start(5);
}
