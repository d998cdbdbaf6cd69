#pragma once
#include <QString>
#include <QStringList>

// Checks on the paths a mode's command is given, shared by every mode and by tallyweave-batch.
// Pure functions of the paths and the file system; nothing here asks or deletes.

// The file name's extension: from its last "." on, the dot included; empty when the name has none.
QString fileExtension(const QString& path);

// path unchanged when its extension is one of accepted (compared without regard to case), else
// path + appended.
QString withAcceptedExtension(const QString& path, const QStringList& accepted, const QString& appended);

// True when a regular file (not a folder) exists at path.
bool isExistingFile(const QString& path);

// True when a and b name the same file: both made absolute, cleaned of "." and "..", links
// resolved (the canonical path where the file exists, else the canonical folder plus the name),
// then compared without regard to case. Empty paths name nothing.
bool sameFile(const QString& a, const QString& b);
