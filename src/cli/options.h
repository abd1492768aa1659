#pragma once
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace zafrel {

// The command line of one process, read the way the unattended upload reads it. A flag counts only
// as an argument exactly equal to its text ("--dest=x" is not "--dest"); when a flag is repeated,
// its first occurrence counts. Element 0 is the program path.
class Options {
public:
    explicit Options(QStringList arguments);

    const QStringList& arguments() const { return arguments_; }

    // True when some argument is "--upload": the unattended mode. Without it every other option
    // is ignored.
    bool uploadRequested() const;

    // The argument right after the first occurrence of `flag`, unchanged even when it begins with
    // "--"; nothing when the flag is absent or is the last argument.
    std::optional<QString> value(const QString& flag) const;

    // Every argument after the first "--upload" that does not begin with "--", in order. Values of
    // options placed after "--upload" (the folder after "--dest", the e-mail and password after
    // "--login") are collected too; options placed before it are not.
    QStringList paths() const;

    struct Login {
        QString email;
        std::optional<QString> password;
        bool operator==(const Login&) const = default;
    };
    // The argument after the first "--login" as the e-mail and, when the one after it exists and
    // does not begin with "--", that one as the password. Without a password here the run takes
    // it from the environment or the terminal, where no other account of the machine can read it.
    std::optional<Login> login() const;
    // Index of the password argument of login(), when the command line holds one.
    std::optional<qsizetype> passwordIndex() const;

    // "--server" value, stored as the service origin before anything is sent.
    std::optional<QString> server() const { return value(QStringLiteral("--server")); }

    // "--dest" value, or the top folder (empty) when absent.
    QString destDir() const { return value(QStringLiteral("--dest")).value_or(QString()); }

private:
    QStringList arguments_;
};

}  // namespace zafrel
