#pragma once
#include <QString>
#include <QStringList>

// File open and save dialogs. Filters are given as the language files write them:
// "Excel files|*.xls;*.xlsx|All files|*.*". Each call returns the chosen path, or an empty text
// when the user cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString openFileName(const QString& filter) = 0;
    // Asks no overwrite question of its own: the command that asked decides. The dialog opens in
    // startFolder when one is given. When chosenType is given it receives the patterns of the file
    // type chosen in the dialog, as the filter writes them ("*.csv"), for a command that lets the
    // type decide what it writes.
    virtual QString saveFileName(const QString& filter, const QString& startFolder = {},
                                 QString* chosenType = nullptr) = 0;
};

// "Text|*.a;*.b|All|*.*" -> "Text (*.a *.b);;All (*.*)". Pairs without a pattern are dropped.
QString qtFileFilter(const QString& pipeFilter);

// The filter cut down to the given patterns (compared without regard to case): each entry keeps
// only those of its patterns, entries left without any are dropped. When none is left, one entry
// of the patterns themselves, so that the dialog never offers a type the caller cannot write.
QString filterWithPatterns(const QString& pipeFilter, const QStringList& patterns);

// The patterns of the filter's entry that qtFileFilter turned into qtEntry ("Text (*.a *.b)" ->
// "*.a;*.b"); the first entry's when none matches.
QString pipePatternsOf(const QString& pipeFilter, const QString& qtEntry);
