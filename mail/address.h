#pragma once
#include <QString>

// The valid-address rule: a trimmed cell text is a usable e-mail address when it is not empty,
// holds only ASCII letters, digits and "@", ".", "-", "_" (and "+" before the "@"), exactly one "@"
// neither first nor last, no "." right after the "@" nor at the end, and a "." after the character
// following the "@".
bool isUsableAddress(const QString& text);
