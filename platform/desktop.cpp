#include "platform/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {
int showBox(QMessageBox::Icon icon, const QString& title, const QString& text, const QString& detail,
            QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, text, buttons, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    return box.exec();
}
} // namespace

void DesktopPrompter::information(const QString& title, const QString& text, const QString& detail)
{
    showBox(QMessageBox::Information, title, text, detail, QMessageBox::Ok);
}

bool DesktopPrompter::question(const QString& title, const QString& text)
{
    return showBox(QMessageBox::Question, title, text, {}, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void DesktopPrompter::error(const QString& title, const QString& text, const QString& detail)
{
    showBox(QMessageBox::Critical, title, text, detail, QMessageBox::Ok);
}

QString DesktopFileDialogs::openFileName(const QString& filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(), qtFileFilter(filter));
}

QString DesktopFileDialogs::saveFileName(const QString& filter, const QString& startFolder, QString* chosenType)
{
    QString selected;
    const QString path = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(), startFolder,
                                                      qtFileFilter(filter), &selected,
                                                      QFileDialog::DontConfirmOverwrite);
    if (chosenType)
        *chosenType = pipePatternsOf(filter, selected);
    return path;
}

void DesktopShell::open(const QString& target)
{
    if (target.isEmpty())
        return;
    const QUrl url = QUrl::fromUserInput(target, QString(), QUrl::AssumeLocalFile);
    QDesktopServices::openUrl(url);
}
