#pragma once
#include "merge/common/rowdocuments.h"

#include <functional>

class TRunForm;

// The step of a mail run dialog in which the rows' own documents are made, before the first
// message: its status line reads text with %1 the documents done and %2 all of them, and the
// progress bar follows.
void showDocumentsProgress(TRunForm& form, const QString& text, int done, int total);

// Runs make on a thread of its own while the dialog keeps painting and takes Cancel: make gets a
// progress that the dialog shows ten times a second, and a stop that answers true once Cancel was
// pressed. Returns make's outcome; an exception thrown by make is a failure, its text in *cause.
using DocumentMaking = std::function<RowDocuments::Outcome(const RowDocuments::Progress&, const std::function<bool()>&)>;
RowDocuments::Outcome makeDocumentsWaiting(TRunForm& form, const QString& text, const DocumentMaking& make,
                                           QString* cause);
