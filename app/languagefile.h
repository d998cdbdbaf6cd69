#pragma once
#include <QHash>
#include <QString>

// Where windows and commands read their texts: `Section.Key`, empty when missing.
class Texts {
public:
    virtual ~Texts() = default;
    virtual QString text(const QString& section, const QString& key) const = 0;
};

// A language file: an initialisation file of [Section] lines and key=value lines, read with the
// rules of the classic profile reader: section and key names match without regard to case, the
// first match wins, blanks around a value are dropped, one pair of enclosing quotes is removed,
// a value is cut at 2047 characters, and a missing file, section or key gives the default.
// Files are UTF-8; a byte-order mark is tolerated.
class LanguageFile : public Texts {
public:
    static constexpr int kMaxValueLength = 2047;

    LanguageFile() = default;
    explicit LanguageFile(const QString& path);

    static LanguageFile fromText(const QByteArray& content);

    QString path() const { return m_path; }
    bool exists() const { return m_exists; }
    QString value(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    QString text(const QString& section, const QString& key) const override { return value(section, key); }

private:
    void parse(const QByteArray& content);

    QString m_path;
    bool m_exists = false;
    QHash<QString, QHash<QString, QString>> m_sections; // folded section -> folded key -> value
};

// The language file whose texts stand in for those a chosen file lacks.
inline const QString kFallbackLanguageFile = QStringLiteral("English.ini");

// The language file in force. The main window owns it and replaces the file at every application;
// every window reads through it at the moment it needs a text, so a message is always in the
// language in force when it is shown. A text the file lacks or leaves empty is read from the
// fallback file, so that a partial or damaged translation never blanks a menu or a message.
class CurrentLanguage : public Texts {
public:
    void open(const QString& path) { m_file = LanguageFile(path); }
    void setFile(const LanguageFile& file) { m_file = file; }
    void setFallback(const LanguageFile& file) { m_fallback = file; }
    const LanguageFile& file() const { return m_file; }
    QString text(const QString& section, const QString& key) const override {
        const QString chosen = m_file.text(section, key);
        return chosen.isEmpty() ? m_fallback.text(section, key) : chosen;
    }

private:
    LanguageFile m_file;
    LanguageFile m_fallback;
};
