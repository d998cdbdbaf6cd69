#pragma once
#include "app/windowbase.h"

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <functional>

class QEvent;
class QFrame;
class QLabel;
class QPushButton;
struct Services;

// The about box: product name, version, the home page as a link, the copyright line. The main
// window sets the link target before each showing; the box never deciphers anything itself.
class TAboutForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    // currentYear gives the year of the copyright line at each application of the language
    // file; empty means the local date's year.
    explicit TAboutForm(Services& services, QWidget* parent = nullptr, std::function<int()> currentYear = {});

    void setLinkTarget(const QString& target) { m_linkTarget = target; }
    QString linkTarget() const { return m_linkTarget; }

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // The address shown by the link label; it is part of the window, not of the language file.
    static QString shownAddress();

public slots:
    void FormShow();
    void LabelHome2MouseEnter();
    void LabelHome2MouseLeave();
    void LabelHome2Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QLabel* addLabel(const char* name, int left, int top, const QString& text = {});
    void setLinkLook(bool hot);
    void arrangeLabels();

    Services& m_services;
    std::function<int()> m_currentYear;
    QString m_linkTarget;

    QFrame* m_bevel1 = nullptr;
    QLabel* m_image1 = nullptr;
    QLabel* m_labelName = nullptr;
    QLabel* m_labelVersion1 = nullptr;
    QLabel* m_labelVersion2 = nullptr;
    QLabel* m_labelHome1 = nullptr;
    QLabel* m_labelHome2 = nullptr;
    QLabel* m_labelCopyright = nullptr;
    QFrame* m_bevel2 = nullptr;
    QPushButton* m_buttonOk = nullptr;
};

// The About command: the link target is the deciphered home page, then the box is shown modally.
// Returns when the box is closed.
void showAboutBox(TAboutForm& box);

// The 64 x 64 picture of the about box.
QPixmap aboutPicture();
