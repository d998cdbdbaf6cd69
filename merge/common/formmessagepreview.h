#pragma once
#include "app/windowbase.h"

#include <QByteArray>
#include <QDialog>
#include <QStringList>

#include <functional>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTextBrowser;
struct Services;

// One row of a mailing as the preview shows it: the message that would go, whole, and what the
// user should know before it goes.
struct PreviewedRow {
    int row = 0;
    QByteArray message;   // empty: the row gets no message (see the warnings)
    QStringList warnings; // in the language in force, one per line
};

// The rows a preview pages through, in order: every row from the start line on whose address cell
// holds something, the rows that would be left out included.
class MessagePreviewSource {
public:
    virtual ~MessagePreviewSource() = default;
    virtual int count() const = 0;
    // The worksheet row of an index, rising with it; cheap, for paging by row number.
    virtual int rowAt(int index) const = 0;
    // The row's message, composed as the run would compose it.
    virtual PreviewedRow at(int index) = 0;
};

// The preview of a mailing's messages, one row at a time, with Previous and Next and a row number
// to go to. The message is read back from its bytes: From, To, Cc and Subject, the text body (for
// an HTML body the plain text made from it, the HTML itself rendered on the second page), the
// attachments with their sizes. The warnings of the row stand above it.
class TMessagePreviewForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TMessagePreviewForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // The rows to show, from the first. Not owned; it must outlive the showing.
    void setSource(MessagePreviewSource* source);
    // Send test: handed the row shown; returns the empty text when the test went, else why not.
    void setTestSender(std::function<QString(const PreviewedRow&)> sender);
    // The index of the row shown, -1 without rows.
    int current() const { return m_index; }
    void showIndex(int index);

    QLabel* LabelWarnings;
    QLabel* LabelRow;
    QSpinBox* SpinRow; // the worksheet row; a row that is not a recipient goes to the next one that is
    QLabel* LabelOf;
    QPushButton* ButtonPrevious;
    QPushButton* ButtonNext;
    QLabel* LabelFrom;
    QLabel* ValueFrom;
    QLabel* LabelTo;
    QLabel* ValueTo;
    QLabel* LabelCc;
    QLabel* ValueCc;
    QLabel* LabelSubject;
    QLabel* ValueSubject;
    QTabWidget* Pages;
    QPlainTextEdit* MemoText;
    QTextBrowser* BrowserHtml;
    QLabel* LabelAttachments;
    QListWidget* ListAttachments;
    QPushButton* ButtonSendTest;
    QPushButton* ButtonClose;

private slots:
    void SpinRowChanged(int row);
    void ButtonSendTestClick();

private:
    Services& m_services;
    MessagePreviewSource* m_source = nullptr;
    std::function<QString(const PreviewedRow&)> m_testSender;
    PreviewedRow m_shown;
    int m_index = -1;
};
