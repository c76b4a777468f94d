#include "NSAppleEventManager.h"

NSAppleEventDescriptor NSAppleEventDescriptor::getURLEvent(const QString& url)
{
    NSAppleEventDescriptor event(kInternetEventClass, kAEGetURL);
    event.setParamDescriptor(url, keyDirectObject);
    return event;
}

std::optional<QVariant> NSAppleEventDescriptor::paramDescriptorForKeyword(AEKeyword keyword) const
{
    for (const auto& [key, value] : m_parameters)
        if (key == keyword)
            return value;
    return std::nullopt;
}

void NSAppleEventDescriptor::setParamDescriptor(const QVariant& value, AEKeyword keyword)
{
    for (auto& parameter : m_parameters) {
        if (parameter.first == keyword) {
            parameter.second = value;
            return;
        }
    }
    m_parameters.append({keyword, value});
}

QString NSAppleEventDescriptor::stringValue(const QVariant& descriptor)
{
    return descriptor.typeId() == QMetaType::QString ? descriptor.toString() : QString();
}

NSAppleEventManager& NSAppleEventManager::sharedAppleEventManager()
{
    static NSAppleEventManager manager;
    return manager;
}

NSAppleEventManager::Handler NSAppleEventManager::handlerFor(AEEventClass eventClass, AEEventID eventID) const
{
    for (const Entry& entry : m_handlers)
        if (entry.eventClass == eventClass && entry.eventID == eventID)
            return entry.handler;
    return {};
}

void NSAppleEventManager::setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID)
{
    removeEventHandler(eventClass, eventID);
    if (!handler)
        return;
    m_handlers.append({eventClass, eventID, handler});
    QList<NSAppleEventDescriptor> waiting;
    for (qsizetype i = 0; i < m_pending.size();) {
        if (m_pending.at(i).eventClass() == eventClass && m_pending.at(i).eventID() == eventID)
            waiting.append(m_pending.takeAt(i));
        else
            ++i;
    }
    for (const NSAppleEventDescriptor& event : waiting)
        handler(event);
}

void NSAppleEventManager::removeEventHandler(AEEventClass eventClass, AEEventID eventID)
{
    m_handlers.removeIf([&](const Entry& entry) { return entry.eventClass == eventClass && entry.eventID == eventID; });
}

void NSAppleEventManager::dispatchEvent(const NSAppleEventDescriptor& event)
{
    // A copy: the handler may replace itself.
    const Handler handler = handlerFor(event.eventClass(), event.eventID());
    if (handler)
        handler(event);
    else
        m_pending.append(event);
}
