#include "AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "OwnFile.h"

namespace AutostartEntry {

namespace {

const QString kMarkKey = QStringLiteral("X-Kelvara-Job=");

// A quoted argument escapes these with a backslash.
bool needsBackslashInQuotes(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\');
}

// Characters that make an argument need quotes.
bool isReserved(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

QString quotedArgument(const QString& argument)
{
    QString word;
    bool quote = argument.isEmpty();
    for (const QChar c : argument) {
        quote = quote || isReserved(c);
        if (needsBackslashInQuotes(c))
            word += QLatin1Char('\\');
        // "%" starts a field code; "%%" is one literal "%".
        word += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    if (quote)
        return QLatin1Char('"') + word + QLatin1Char('"');
    // Unquoted, only "%" needed changing.
    return QString(argument).replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// The string-value escapes, applied over the quoting.
QString escapedValue(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': value += QStringLiteral("\\\\"); break;
        case '\n': value += QStringLiteral("\\n"); break;
        case '\t': value += QStringLiteral("\\t"); break;
        case '\r': value += QStringLiteral("\\r"); break;
        default: value += c;
        }
    }
    return value;
}

}  // namespace

QString directory()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString pathForLabel(const QString& label)
{
    return directory() + QLatin1Char('/') + label + QStringLiteral(".desktop");
}

QString execLine(const QStringList& arguments)
{
    QStringList words;
    for (const QString& argument : arguments)
        words.append(quotedArgument(argument));
    return escapedValue(words.join(QLatin1Char(' ')));
}

QString entry(const QString& label, const QStringList& arguments)
{
    const QString name = arguments.isEmpty() ? label : QFileInfo(arguments.first()).fileName();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n"
                          "%3%4\n")
        .arg(escapedValue(name), execLine(arguments), kMarkKey, label);
}

bool isOurs(const QString& label)
{
    // A link, or anything but a small regular file, is no entry of ours.
    const OwnFile::Contents file = OwnFile::read(QFile::encodeName(pathForLabel(label)).toStdString(), 64 * 1024);
    if (file.outcome != OwnFile::Contents::Outcome::Read)
        return false;
    const QString expected = kMarkKey + label;
    for (const QByteArray& line : QByteArray::fromStdString(file.bytes).split('\n'))
        if (QString::fromUtf8(line).trimmed() == expected)
            return true;
    return false;
}

bool write(const QString& label, const QStringList& arguments, QString* error)
{
    const QString path = pathForLabel(label);
    // A dangling link counts as taken too.
    if ((QFileInfo::exists(path) || QFileInfo(path).isSymLink()) && !isOurs(label))
        return true;
    QDir().mkpath(directory());
    std::string reason;
    if (!OwnFile::replace(QFile::encodeName(path).toStdString(), entry(label, arguments).toUtf8().toStdString(), 0644,
                          &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, QString::fromStdString(reason));
        return false;
    }
    return true;
}

void remove(const QString& label)
{
    if (isOurs(label))
        QFile::remove(pathForLabel(label));
}

}  // namespace AutostartEntry
