#include "MSAppCenter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QLocale>

#include "NSFileManager.h"

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

void append(const QJsonObject& entry)
{
    const QString path = MSAppCenter::eventLogPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // Failing to note an event must never disturb the program.
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
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
