#pragma once
// Usage analytics without a network: the events go to a local log in the
// app-group container, one JSON object per line.
#include <QString>
#include <QStringList>
#include <QVariantMap>

class MSAppCenter {
public:
    static void start(const QString& appSecret, const QStringList& services);
    static bool isStarted();
    static void setCountryCode(const QString& countryCode);
    static QString countryCode();
    // The log file: "<container>/Library/Logs/Kelvara Analytics.jsonl".
    static QString eventLogPath();
};

class MSAnalytics {
public:
    // Nothing is recorded before the center has started.
    static void trackEvent(const QString& name, const QVariantMap& properties = {});
};

// The user's country from the system's locale (ISO 3166 code), empty when unknown.
QString systemCountryCode();
