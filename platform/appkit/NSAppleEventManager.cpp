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

qsizetype NSAppleEventDescriptor::byteSize() const
{
    qsizetype bytes = 0;
    for (const auto& parameter : m_parameters) {
        const QVariant& value = parameter.second;
        bytes += qsizetype(sizeof parameter);
        if (value.typeId() == QMetaType::QString)
            bytes += value.toString().size() * qsizetype(sizeof(QChar));
        else if (value.typeId() == QMetaType::QByteArray)
            bytes += value.toByteArray().size();
    }
    return bytes;
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
        if (m_pending.at(i).eventClass() == eventClass && m_pending.at(i).eventID() == eventID) {
            m_pendingBytes -= m_pending.at(i).byteSize();
            waiting.append(m_pending.takeAt(i));
        } else {
            ++i;
        }
    }
    for (const NSAppleEventDescriptor& event : waiting)
        handler(event);
}

void NSAppleEventManager::removeEventHandler(AEEventClass eventClass, AEEventID eventID)
{
    m_handlers.removeIf([&](const Entry& entry) { return entry.eventClass == eventClass && entry.eventID == eventID; });
}

bool NSAppleEventManager::acceptsEvent(AEEventClass eventClass, AEEventID eventID, qsizetype bytes) const
{
    if (handlerFor(eventClass, eventID))
        return true;
    return m_holdsEvents && m_pending.size() < kMaxPendingEvents && m_pendingBytes + bytes <= kMaxPendingBytes;
}

bool NSAppleEventManager::dispatchEvent(const NSAppleEventDescriptor& event)
{
    // A copy: the handler may replace itself.
    if (const Handler handler = handlerFor(event.eventClass(), event.eventID())) {
        handler(event);
        return true;
    }
    const qsizetype bytes = event.byteSize();
    if (!acceptsEvent(event.eventClass(), event.eventID(), bytes))
        return false;
    m_pending.append(event);
    m_pendingBytes += bytes;
    return true;
}

void NSAppleEventManager::setHoldsEventsUntilHandled(bool hold)
{
    m_holdsEvents = hold;
    if (!hold) {
        m_pending.clear();
        m_pendingBytes = 0;
    }
}
