#include <libsecret/secret.h>

#include "mail/keyring.h"

#include <memory>

namespace {

const SecretSchema* schema()
{
    static const SecretSchema passwordSchema = {
        "org.example.tallyweave.Password",
        SECRET_SCHEMA_NONE,
        {
            {"program", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &passwordSchema;
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

// The attributes as UTF-8, alive for the call.
struct Attributes {
    explicit Attributes(const KeyringEntry& entry)
        : protocol(entry.protocol.toUtf8()), server(entry.server.toUtf8()), user(entry.account.toUtf8())
    {
    }
    QByteArray protocol, server, user;
};

// Without a session bus GDBus would try to start one through X11; with no address to use there is
// no keyring to ask.
bool sessionBusConfigured()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
           || !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR");
}

} // namespace

namespace keyring {

std::optional<QString> lookup(const KeyringEntry& entry, bool* answered)
{
    *answered = false;
    if (!sessionBusConfigured())
        return std::nullopt;
    const Attributes a(entry);
    GError* raw = nullptr;
    gchar* secret = secret_password_lookup_sync(schema(), nullptr, &raw, "program", "tallyweave", "protocol",
                                                a.protocol.constData(), "server", a.server.constData(), "user",
                                                a.user.constData(), nullptr);
    const std::unique_ptr<GError, ErrorFree> error(raw);
    if (error)
        return std::nullopt;
    *answered = true;
    if (!secret)
        return std::nullopt;
    const QString password = QString::fromUtf8(secret);
    secret_password_free(secret);
    return password;
}

bool store(const KeyringEntry& entry, const QString& password)
{
    if (!sessionBusConfigured())
        return false;
    const Attributes a(entry);
    const QByteArray label = QStringLiteral("Tallyweave %1 password for %2 on %3")
                                 .arg(entry.protocol.toUpper(), entry.account, entry.server)
                                 .toUtf8();
    const QByteArray secret = password.toUtf8();
    GError* raw = nullptr;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(), nullptr, &raw, "program",
        "tallyweave", "protocol", a.protocol.constData(), "server", a.server.constData(), "user",
        a.user.constData(), nullptr);
    const std::unique_ptr<GError, ErrorFree> error(raw);
    return stored && !error;
}

bool clear(const KeyringEntry& entry)
{
    if (!sessionBusConfigured())
        return false;
    const Attributes a(entry);
    GError* raw = nullptr;
    secret_password_clear_sync(schema(), nullptr, &raw, "program", "tallyweave", "protocol", a.protocol.constData(),
                               "server", a.server.constData(), "user", a.user.constData(), nullptr);
    const std::unique_ptr<GError, ErrorFree> error(raw);
    return !error;
}

} // namespace keyring
