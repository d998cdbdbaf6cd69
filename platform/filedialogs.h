#pragma once
#include <QString>

// File open and save dialogs. Filters are given as the language files write them:
// "Excel files|*.xls;*.xlsx|All files|*.*". Each call returns the chosen path, or an empty text
// when the user cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString openFileName(const QString& filter) = 0;
    // Asks no overwrite question of its own: the command that asked decides.
    virtual QString saveFileName(const QString& filter) = 0;
};

// "Text|*.a;*.b|All|*.*" -> "Text (*.a *.b);;All (*.*)". Pairs without a pattern are dropped.
QString qtFileFilter(const QString& pipeFilter);
