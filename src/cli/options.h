#pragma once
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace zafrel {

// One option the command line knows: its flag, how many values must follow it and how many more
// may. A value that must follow is the next argument unless that is another known flag (then the
// option lacks it); a value that may follow is taken only when the next argument exists and does
// not begin with "--". A new option is one more row of optionRules().
struct OptionRule {
    QLatin1StringView flag;
    int requiredValues = 0;
    int optionalValues = 0;
    // "--upload", "--simular", "--comprobar": the arguments after it that belong to no option are
    // the paths to upload or check.
    bool startsPaths = false;
};

// The rows the command line is read with.
std::span<const OptionRule> optionRules();

// The command line of one process, read once against optionRules(). A flag counts only as an
// argument exactly equal to its text ("--dest=x" is not "--dest"); when a flag is repeated, its
// first occurrence counts, and the values of every occurrence belong to it. Values are never
// paths, wherever their option stands. "--" ends the options: every argument after it is a path.
// Element 0 is the program path.
class Options {
public:
    explicit Options(QStringList arguments);
    // The process's own arguments, in the locale's encoding.
    Options(int argc, char** argv);

    const QStringList& arguments() const { return arguments_; }

    // True when some argument is "--upload": the unattended mode. Without it every other option
    // is ignored.
    bool uploadRequested() const { return given(QStringLiteral("--upload")); }
    bool given(const QString& flag) const { return occurrences_.contains(flag); }

    // The first value of the first occurrence of `flag`; nothing when the flag is absent or lacks
    // its value.
    std::optional<QString> value(const QString& flag) const;

    // "--simular" or "--comprobar": the paths are only compared with the destination.
    bool checkRequested() const
    {
        return given(QStringLiteral("--simular")) || given(QStringLiteral("--comprobar"));
    }

    // The arguments after "--upload" that are neither options nor their values, in order.
    const QStringList& paths() const { return paths_; }
    // Arguments before "--upload" that belong to no option (not used: no path comes before it).
    const QStringList& strayArguments() const { return stray_; }
    // Arguments beginning with "--" that no row knows (skipped). One standing where the password of
    // "--login" would stand is given as a description instead of its text: it may be a password.
    const QStringList& unknownOptions() const { return unknown_; }
    // Flags given without the values they need (last on the line, or followed by another flag):
    // such a run must not start, or it would run with a default nobody asked for.
    const QStringList& missingValues() const { return missing_; }

    struct Login {
        QString email;
        std::optional<QString> password;
        bool operator==(const Login&) const = default;
    };
    // "--login EMAIL [PASSWORD]". Without a password here the run takes it from the environment
    // or the terminal, where no other account of the machine can read it.
    std::optional<Login> login() const;
    // Index in arguments() of the password of login(), when the command line holds one.
    std::optional<qsizetype> passwordIndex() const;

    // "--server" value, the service origin for this run (and, stored, for later ones).
    std::optional<QString> server() const { return value(QStringLiteral("--server")); }

    // "--dest" value, ending with "/" when not empty ("Dia04" names the folder Dia04/, not a
    // prefix of the names); the top folder (empty) when absent.
    QString destDir() const;

private:
    // The values of one occurrence with their indexes in arguments_.
    using Values = std::vector<std::pair<qsizetype, QString>>;

    QStringList arguments_;
    std::map<QString, Values> occurrences_;   // first occurrence of each flag given
    QStringList paths_;
    QStringList stray_;
    QStringList unknown_;
    QStringList missing_;
};

}  // namespace zafrel
