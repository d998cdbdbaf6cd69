#pragma once
#include <QString>

#include <optional>

// The desktop's keyring: the Secret Service (GNOME Keyring, KWallet and the like) on the session
// bus, through libsecret. A mail password is one item whose attributes name the program
// ("tallyweave"), the protocol ("smtp" or "imap"), the server and the account, so that
// `secret-tool lookup program tallyweave protocol smtp server HOST user ACCOUNT` finds it.
struct KeyringEntry {
    QString protocol;
    QString server;
    QString account;
};

namespace keyring {

// The password of entry: a value when the keyring answered and holds it, an empty optional when
// it holds none. *answered is false when no keyring answered (no session bus, no Secret Service,
// or the call failed); the caller then keeps to the settings file.
std::optional<QString> lookup(const KeyringEntry& entry, bool* answered);
// Stores (or replaces) the password; false when no keyring took it.
bool store(const KeyringEntry& entry, const QString& password);
// Removes the item; false when no keyring answered.
bool clear(const KeyringEntry& entry);

} // namespace keyring
