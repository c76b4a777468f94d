#pragma once
// Usage events of the windowed programs.
#include <QString>
#include <QVariantMap>

// Event names.
inline constexpr const char* KLEventSensorViewDetail = "Sensor View Detail";
inline constexpr const char* KLEventSensorShowInMenu = "Sensor Show In Menu";
inline constexpr const char* KLEventSensorChangeGraphTimeRange = "Sensor Change Graph Time Range";
inline constexpr const char* KLEventFanControlChangeMode = "Fan Control Change Mode";
inline constexpr const char* KLEventFanControlChangeSpeed = "Fan Control Change Speed";
inline constexpr const char* KLEventFanControlTapManualUtilLink = "Fan Control Tap Manual Util Link";
inline constexpr const char* KLEventFanControlTapEditFanRules = "Fan Control Tap Edit Fan Rules";
inline constexpr const char* KLEventFanControlAuthorizationFailed = "Fan Control Authorization Failed";
inline constexpr const char* KLEventFanControlTapAddFanSet = "Fan Control Tap Add Fan Set";
inline constexpr const char* KLEventFanControlTapAddFanCondition = "Fan Control Tap Add Fan Condition";
inline constexpr const char* KLEventNotificationsTapAddButton = "Notifications Tap Add Button";
inline constexpr const char* KLEventSettingsTapEditDropdownButton = "Settings Tap Edit Dropdown Button";
inline constexpr const char* KLEventMenuOpenPopup = "Menu Open Popup";

class KLAnalyticsHelper {
public:
    static KLAnalyticsHelper& sharedInstance();

    // Starts analytics and crash reporting, then finds the user's country once.
    void initializeTracking();
    static void logEvent(const QString& name);
    static void logEvent(const QString& name, const QVariantMap& properties);

    // The country fix: an empty code (no fix) sets nothing.
    void didFindCountry(const QString& isoCountryCode);

private:
    bool m_locationRequested = false;
};
