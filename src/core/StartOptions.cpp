#include "core/StartOptions.h"

#include "core/SettingsStore.h"

namespace tallyvo {

std::optional<StartOptions> StartOptions::parse(const QStringList& args, QString* error)
{
    StartOptions o;
    auto fail = [&](const QString& why) -> std::optional<StartOptions> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString name = a;
        QString value;
        bool inlineValue = false;
        if (a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))) {
            name = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
            inlineValue = true;
        }
        if (name != QLatin1String("--profile") && name != QLatin1String("--db")) {
            o.rest << a;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("%1 needs a value").arg(name));
            value = args[++i];
        }
        if (name == QLatin1String("--profile")) {
            if (!SettingsStore::isValidProfile(value))
                return fail(QStringLiteral("profile names take letters, digits, '-', '_' and '.': %1").arg(value));
            o.profile = value;
        } else {
            QString why;
            o.db = DbUrl::parse(value, &why);
            if (!o.db)
                return fail(why);
        }
    }
    return o;
}

} // namespace tallyvo
