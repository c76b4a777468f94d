#include "MSAppCenter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <unistd.h>

#include "NSFileManager.h"
#include "OwnFile.h"

namespace {

struct State {
    bool started = false;
    QString secret;
    QString country;
};

State& state()
{
    static State s;
    return s;
}

// Events are small; past this the log is set aside and a new one begun.
constexpr long long kLogLimit = 8 * 1024 * 1024;

void append(const QJsonObject& entry)
{
    const QString path = MSAppCenter::eventLogPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::string native = QFile::encodeName(path).toStdString();
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    // Failing to note an event must never disturb the program.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string reason;
        bool refused = false;
        const int fd = OwnFile::openForAppend(native, kLogLimit, 0600, &reason, &refused);
        if (fd >= 0) {
            // One write, so lines of programs logging at once never interleave.
            while (::write(fd, line.constData(), size_t(line.size())) < 0 && errno == EINTR) {
            }
            ::close(fd);
            return;
        }
        // Said once: a file that cannot be moved is then left alone for the rest of the run.
        static bool ignored = false;
        if (!refused || attempt > 0 || ignored)
            return;
        ignored = !OwnFile::setAsideAndSay(native, "the analytics log", reason, "a new one is begun");
    }
}

}  // namespace

QString MSAppCenter::eventLogPath()
{
    return NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier(
               QStringLiteral("group.com.orvane.kelvara")) +
           QStringLiteral("/Library/Logs/Kelvara Analytics.jsonl");
}

void MSAppCenter::start(const QString& appSecret, const QStringList& services)
{
    State& s = state();
    s.started = true;
    s.secret = appSecret;
    append({{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
            {"start", QJsonValue::fromVariant(services)}});
}

bool MSAppCenter::isStarted()
{
    return state().started;
}

void MSAppCenter::setCountryCode(const QString& countryCode)
{
    state().country = countryCode;
}

QString MSAppCenter::countryCode()
{
    return state().country;
}

void MSAnalytics::trackEvent(const QString& name, const QVariantMap& properties)
{
    const State& s = state();
    if (!s.started)
        return;
    QJsonObject entry{{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}, {"event", name}};
    if (!properties.isEmpty())
        entry.insert(QStringLiteral("properties"), QJsonObject::fromVariantMap(properties));
    if (!s.country.isEmpty())
        entry.insert(QStringLiteral("country"), s.country);
    append(entry);
}

QString systemCountryCode()
{
    const QLocale locale;  // the system's, unless a test chose another
    if (locale.territory() == QLocale::AnyTerritory)
        return {};
    return QLocale::territoryToCode(locale.territory());
}
