#include "KLAnalyticsHelper.h"

#include "MSAppCenter.h"

namespace {
// A deployment setting; the local log has no use for a real one.
constexpr const char* kAppSecret = "00000000-0000-0000-0000-000000000000";
}

KLAnalyticsHelper& KLAnalyticsHelper::sharedInstance()
{
    static KLAnalyticsHelper helper;
    return helper;
}

void KLAnalyticsHelper::initializeTracking()
{
    MSAppCenter::start(QString::fromLatin1(kAppSecret), {QStringLiteral("MSAnalytics"), QStringLiteral("MSCrashes")});
    // One coarse fix per process: here, the system's locale.
    if (!m_locationRequested) {
        m_locationRequested = true;
        didFindCountry(systemCountryCode());
    }
}

void KLAnalyticsHelper::didFindCountry(const QString& isoCountryCode)
{
    if (!isoCountryCode.isEmpty())
        MSAppCenter::setCountryCode(isoCountryCode);
}

void KLAnalyticsHelper::logEvent(const QString& name)
{
    logEvent(name, {});
}

void KLAnalyticsHelper::logEvent(const QString& name, const QVariantMap& properties)
{
    MSAnalytics::trackEvent(name, properties);
}
