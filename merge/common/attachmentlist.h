#pragma once
#include <QFrame>
#include <QString>

class FileDialogs;
class QAction;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QSplitter;

// The lower part of the dialogs that compose a message for every record (bulk mail, mail client):
// the body memo and, at its right behind a splitter, the list of files attached to every message.
//
// The attachment list is hidden, and with it the splitter, while it is empty. Attachments keep the
// order in which they were added until a removal, which sorts the rest by file name; the run
// attaches them in list order. The same file may be listed twice.
class MessagePanel : public QFrame {
    Q_OBJECT
public:
    explicit MessagePanel(QWidget* parent = nullptr);

    // The caption of MenuRemove, from the dialog's language section.
    void setRemoveText(const QString& text);

    // Body and attachments emptied, the list and the splitter hidden.
    void clear();

    // The memo's lines, each followed by CR LF. A final empty line, where the caret stands after
    // the last Enter, is not a line of its own.
    QString body() const;
    bool bodyIsBlank() const;

    // Appends an item for path: caption the file name without its folder, icon chosen by that
    // name (the file itself is not opened). Shows the list when it was hidden.
    void addAttachment(const QString& path);
    // The open dialog with an empty filter (every file); the chosen file is appended. True when
    // one was chosen.
    bool chooseAttachment(FileDialogs& files);

    int attachmentCount() const;
    QString attachmentName(int index) const;
    QString attachmentPath(int index) const;

    QPlainTextEdit* Memo1;
    QSplitter* Splitter1;
    QListWidget* ListView2;
    QMenu* PopupMenu1;
    QAction* MenuRemove;

public slots:
    // MenuRemove is enabled exactly when an attachment is selected.
    void PopupMenu1Popup();
    // Deletes the selected attachments from the last to the first, sorts the rest by name with the
    // locale's case-sensitive comparison, and hides the list when nothing remains.
    void MenuRemoveClick();

private:
    void showList(bool visible);
};

// The text of a memo as lines each followed by CR LF (see MessagePanel::body).
QString memoLines(const QString& plainText);
