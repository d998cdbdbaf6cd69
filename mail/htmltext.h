#pragma once
#include <QString>

// What an HTML body needs besides the HTML itself: the plain text a mail program shows when it
// shows no HTML, and values made safe to insert into the HTML.

// The text of an HTML body: tags removed, the contents of head, script, style and title left out,
// white space collapsed as a browser does (kept inside pre), paragraphs, headings, lists and
// tables ended by a blank line, divisions, list items, table rows and <br> by a line break, a list
// item begun with "- ", a link written as its text followed by its address in angle brackets (once
// when both are the same), character references decoded. Lines end in LF; the text ends in one LF
// unless it is empty.
QString htmlToText(const QString& html);

// A value as it goes into HTML: "&", "<", ">" and '"' as character references.
QString htmlEscaped(const QString& text);
