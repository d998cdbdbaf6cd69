#pragma once
#include <QString>
#include <QStringList>

// Checks on the paths a mode's command is given, shared by every mode and by tallyweave-batch.
// Pure functions of the paths and the file system; nothing here asks or deletes.
//
// Replacing an existing output: a Yes to "replace it?" deletes nothing. The run writes its result
// to a temporary file beside the output and renames it over the old one only once it has
// finished, so a cancelled or failed run leaves the old file byte for byte. A mode that writes
// elsewhere than the named path (numbered documents beside it) deletes the named file only once
// its run has finished.

// The file name's extension: from its last "." on, the dot included; empty when the name has none.
QString fileExtension(const QString& path);

// path unchanged when its extension is one of accepted (compared without regard to case), else
// path + appended.
QString withAcceptedExtension(const QString& path, const QStringList& accepted, const QString& appended);

// True when a regular file (not a folder) exists at path.
bool isExistingFile(const QString& path);

// Why path names no regular file to read ("... does not exist", "... is a folder, not a file",
// "... is not a regular file"); empty when it names one.
QString inputFileProblem(const QString& path);

// Why a file cannot be written at path, said before anything is done: its folder does not exist,
// is not a folder, or may not be written to (access(W_OK) semantics, so root passes wherever the
// file system is writable), or path itself is a folder. Empty when nothing stands in the way.
QString outputFileProblem(const QString& path);

// True when a and b name the same file: where both exist, the same device and inode (so hard
// links count); and in any case when both, made absolute, cleaned of "." and "..", links resolved
// (the canonical path where the file exists, else the canonical folder plus the name), compare
// equal without regard to case. Empty paths name nothing.
bool sameFile(const QString& a, const QString& b);

// A cell's value made fit to be a file's name: trimmed; the characters / \ : * ? " < > |, control
// and direction-override characters, and leading dots and blanks become "_"; cut to 120 characters and
// to 240 bytes of UTF-8, so that an extension and a " (n)" still fit a file system's 255. Empty for
// a value of blanks.
QString fileNameFromValue(const QString& value);
