#pragma once
#include <QList>
#include <QString>

// One pair of a label mode's fill-in list (documents, mail items, e-mails): the values of a source
// column replace a label. Applied in list order, each pair on the result of the one before.
struct LabelPair {
    int column = 1; // 1 = "A" .. 26 = "Z"
    QString label;  // as stored: trimmed when the pair was added
};
