#pragma once
#include <QString>

#include <memory>
#include <mutex>

// OAuth 2 sign-in with an access token printed by a command the user names (SMTPTokenCommand), the
// way mail tools take tokens from a helper that knows how to refresh them. The command line is
// split into words as a shell would split quoted words, but no shell runs it: nothing is expanded,
// and ";", "|" or "$" reach the program as written.

// Runs the command and returns what it printed on standard output, trimmed. Empty with *error set
// when it cannot be run, takes longer than timeoutMs, exits with a status other than 0 (the cause
// quotes its error output) or prints nothing. The token is never part of *error.
QString runTokenCommand(const QString& command, QString* error, int timeoutMs = 60000);

// The token of one run: the command runs when the first token is needed, and once more at most
// when the server says that token has expired. Shared by the messages of the run; thread-safe.
class TokenSource {
public:
    explicit TokenSource(QString command) : m_command(std::move(command)) {}

    // The token in force; empty with *error set when the command failed.
    QString token(QString* error);
    // After a refusal of the token: runs the command again unless it already ran twice in this run.
    // True with the new token in force; false when no second run is left or it failed (*error set).
    bool renew(QString* error);

private:
    QString m_command;
    std::mutex m_mutex;
    QString m_token;
    QString m_error;
    int m_runs = 0;
};
