#pragma once
#include "merge/common/pathcheck.h"
#include "merge/word/wordmerge.h"

#include <QString>

// The checks of the Excel-to-Word command between the save dialog and the run, shared by the
// window command and tallyweave-batch. Pure functions of the paths and the file system; nothing
// here asks or deletes. The extension rule of the chosen name is withWordExtension; an output
// whose folder cannot take the documents is found by outputFileProblem.

enum class WordCommandCheck {
    Ok,
    SourceMissing,    // no file at the source path (a folder does not count)
    TemplateMissing,  // no file at the template path
    OutputIsTemplate, // the output names the template file
    OutputExists,     // a file exists at the output path: ask before replacing it
};

// The refusals in the command's order: source, template, output equal to the template, existing
// output. output is the path after withWordExtension.
WordCommandCheck checkWordCommand(const QString& source, const QString& templatePath, const QString& output);

// The key in section WordProgressForm of the message for a check ("String02" .. "String05"),
// empty for Ok. OutputExists is a question whose "[xxx]" takes the output's file name.
QString wordCommandMessageKey(WordCommandCheck check);

// What a multiple-files run would do to files already in its folder: the documents it would write
// that exist (replaced), and the earlier numbered documents of the same base above the highest
// number this run reaches (removed once the run has finished, so that the folder does not mix two
// mailings). The named output path itself is never among them: this mode never writes it.
struct NumberedFiles {
    QStringList replaced;
    QStringList stale;
    bool any() const { return !replaced.isEmpty() || !stale.isEmpty(); }
};

// s.outputPath after withWordExtension; empty lists for one file.
NumberedFiles checkNumberedFiles(const WordMergeSettings& s);

// Removes the stale documents; returns those that could not be removed.
QStringList removeStaleDocuments(const QStringList& stale);
