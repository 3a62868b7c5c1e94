#include "cli/CliContext.h"

#include "admin/SiteRecords.h"
#include "core/Database.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace tallyvo::cli {

namespace {

// One line of standard input without its line end; nullopt at its end.
std::optional<QString> readLine()
{
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(char(c));
    }
    if (!any)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

// At a terminal the password is typed twice without echo; from a pipe or file it is the first
// line, so that it never shows in the process list or the shell's history.
QString readPassword(const QString& name)
{
    if (!isatty(STDIN_FILENO)) {
        const std::optional<QString> line = readLine();
        if (!line || line->isEmpty())
            throw UsageError(QStringLiteral("the password is read from standard input, which gave none"));
        return *line;
    }
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios noEcho = saved;
        noEcho.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho);
    }
    auto ask = [](const QString& text) {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        const std::optional<QString> line = readLine();
        std::fputc('\n', stderr);
        return line.value_or(QString());
    };
    const QString first = ask(QStringLiteral("New password for %1: ").arg(name));
    const QString again = first.isEmpty() ? QString() : ask(QStringLiteral("The same again: "));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (first.isEmpty())
        throw UsageError(QStringLiteral("the password must not be empty"));
    if (first != again)
        throw Failure(QStringLiteral("the two passwords differ: nothing was changed"));
    return first;
}

QString oneName(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the user's name is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    if (args.first().trimmed().isEmpty())
        throw UsageError(QStringLiteral("the user's name must not be empty"));
    return args.first();
}

void user(CliContext& ctx, QStringList args)
{
    if (args.isEmpty())
        throw UsageError(QStringLiteral("list, add, remove or password is missing"));
    const QString action = args.takeFirst();
    if (action == QLatin1String("list")) {
        expectNoMore(args);
        for (const auto& [key, name] : Users::list(ctx.db()))
            ctx.out << name << '\n';
    } else if (action == QLatin1String("add")) {
        const QString type = takeOption(args, QStringLiteral("type")).value_or(QStringLiteral("Admin"));
        if (type != QLatin1String("Admin") && type != QLatin1String("User"))
            throw UsageError(QStringLiteral("--type must be Admin or User: %1").arg(type));
        const QString name = oneName(args);
        const Database& db = ctx.db();
        // A taken name is refused before anyone types a password for it.
        if (Users::keyOf(db, name.toUpper()) != 0)
            throw Refused(QStringLiteral("%1: Existing User, select another Name").arg(name.toUpper()));
        const QString refusal = Users::add(db, name, readPassword(name.toUpper()), type);
        if (!refusal.isEmpty())
            throw Refused(QStringLiteral("%1: %2").arg(name.toUpper(), refusal.trimmed()));
        ctx.out << "User " << name.toUpper() << " added.\n";
    } else if (action == QLatin1String("remove")) {
        const QString name = oneName(args);
        switch (Users::removeByName(ctx.db(), name)) {
        case Users::Removal::Removed:
            ctx.out << "User " << name.toUpper() << " removed.\n";
            break;
        case Users::Removal::NoSuchUser:
            throw Failure(QStringLiteral("no user is named '%1'").arg(name));
        case Users::Removal::LastUser:
            throw Refused(QStringLiteral("%1 is the last user and cannot be removed").arg(name.toUpper()));
        }
    } else if (action == QLatin1String("password")) {
        const QString name = oneName(args);
        const Database& db = ctx.db();
        // Asked before the password is typed, so a mistyped name costs no typing.
        if (db.scalar(QStringLiteral("SELECT count(*) FROM tbluser WHERE UPPER(username)=UPPER(?)"), {name}).toInt()
            == 0)
            throw Failure(QStringLiteral("no user is named '%1'").arg(name));
        if (!Users::setPassword(db, name, readPassword(name.toUpper())))
            throw Failure(QStringLiteral("no user is named '%1'").arg(name));
        ctx.out << "Password of " << name.toUpper() << " changed.\n";
    } else {
        throw UsageError(QStringLiteral("unknown user action: %1").arg(action));
    }
}

} // namespace

QList<CliCommand> userCommands()
{
    return {
        {QStringLiteral("user"), QStringLiteral("list | add NAME [--type Admin|User] | remove NAME | password NAME"),
         QStringLiteral("the administrators' logins: list them, add one or set a password (read from standard "
                        "input), remove one (never the last: exit 3)"),
         user},
    };
}

} // namespace tallyvo::cli
