#include "app/windowbase.h"
#include "app/services.h"
#include "app/localization.h"

#include <QWidget>

void publishObjectNames(QWidget* window)
{
    if (!window || qEnvironmentVariable("TALLYWEAVE_ACCESSIBLE_IDS") != QLatin1String("1"))
        return;
    auto publish = [](QWidget* w) {
        const QString name = w->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            w->setAccessibleDescription(name);
    };
    publish(window);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* child : children)
        publish(child);
}

void Services::notice(const QString& section, const QString& key, const QString& detail) const
{
    prompter.information(text(QStringLiteral("Common"), QStringLiteral("Message")), text(section, key), detail);
}

bool Services::ask(const QString& section, const QString& key, const QString& marker) const
{
    QString question = text(section, key);
    if (!marker.isNull())
        question = fillMarker(question, marker);
    return prompter.question(text(QStringLiteral("Common"), QStringLiteral("Message")), question);
}
