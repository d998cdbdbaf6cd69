#pragma once
#include <QString>

// The program's few settings: string values under fixed names (LanguageFile, Email, SMTPAddress,
// SMTPPort, SMTPUserName, SMTPPassword, SMTPSSL) in one file in the user's configuration folder,
// readable by its owner only since it holds a password. Every access opens the file afresh; when
// it cannot be opened, reading gives empty texts and writing does nothing, silently.
class SettingsStore {
public:
    // Default: Tallyweave.conf in the user's configuration folder ($XDG_CONFIG_HOME).
    SettingsStore();
    explicit SettingsStore(const QString& filePath);

    QString filePath() const { return m_path; }
    bool available() const;
    QString read(const QString& name) const;
    void write(const QString& name, const QString& value) const;
    // Takes the value out of the file; nothing when it is not there.
    void remove(const QString& name) const;

private:
    QString m_path;
};
