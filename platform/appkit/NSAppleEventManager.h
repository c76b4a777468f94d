#pragma once
// Apple events as this system uses them: the get-URL event that carries a
// `kelvara://` link. A link reaches Kelvara as its start argument or over the
// bus (OpenURL on its application object); either way it is dispatched here.
// In a program that holds events (Kelvara), one that arrives before its handler
// exists waits, within bounds, and is handed to the handler when it is
// installed; in the others an event without a handler is dropped at once.
#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

using AEEventClass = quint32;
using AEEventID = quint32;
using AEKeyword = quint32;

inline constexpr AEEventClass kInternetEventClass = 0x4755524C;  // 'GURL'
inline constexpr AEEventID kAEGetURL = 0x4755524C;               // 'GURL'
inline constexpr AEKeyword keyDirectObject = 0x2D2D2D2D;         // '----'

class NSAppleEventDescriptor {
public:
    NSAppleEventDescriptor(AEEventClass eventClass, AEEventID eventID)
        : m_eventClass(eventClass)
        , m_eventID(eventID)
    {
    }
    // A get-URL event whose direct object is the link's text.
    static NSAppleEventDescriptor getURLEvent(const QString& url);

    AEEventClass eventClass() const { return m_eventClass; }
    AEEventID eventID() const { return m_eventID; }
    // The parameter, or nothing when the event lacks it.
    std::optional<QVariant> paramDescriptorForKeyword(AEKeyword keyword) const;
    void setParamDescriptor(const QVariant& value, AEKeyword keyword);
    // The parameter's text; a null string when it is no text.
    static QString stringValue(const QVariant& descriptor);
    // Roughly what the event's parameters occupy.
    qsizetype byteSize() const;

private:
    AEEventClass m_eventClass;
    AEEventID m_eventID;
    QList<std::pair<AEKeyword, QVariant>> m_parameters;
};

class NSAppleEventManager {
public:
    using Handler = std::function<void(const NSAppleEventDescriptor& event)>;

    static NSAppleEventManager& sharedAppleEventManager();

    // Installs (or replaces) the handler and hands it, in arrival order, the
    // events of its class and ID that were waiting.
    void setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID);
    void removeEventHandler(AEEventClass eventClass, AEEventID eventID);
    bool hasEventHandler(AEEventClass eventClass, AEEventID eventID) const
    {
        return bool(handlerFor(eventClass, eventID));
    }
    // To the handler at once when one is installed; otherwise kept for it while
    // this program holds events and the waiting ones leave room. False when dropped.
    bool dispatchEvent(const NSAppleEventDescriptor& event);
    // Whether an event of this kind, carrying that many bytes, would be handled or kept.
    bool acceptsEvent(AEEventClass eventClass, AEEventID eventID, qsizetype bytes = 0) const;

    // Off by default: a program that never handles events keeps none.
    void setHoldsEventsUntilHandled(bool hold);
    bool holdsEventsUntilHandled() const { return m_holdsEvents; }

    // What may wait for handlers at most: a start's links and a few more.
    static constexpr qsizetype kMaxPendingEvents = 32;
    static constexpr qsizetype kMaxPendingBytes = 256 * 1024;

    int pendingEventCount() const { return int(m_pending.size()); }

private:
    struct Entry {
        AEEventClass eventClass;
        AEEventID eventID;
        Handler handler;
    };
    Handler handlerFor(AEEventClass eventClass, AEEventID eventID) const;

    QList<Entry> m_handlers;
    QList<NSAppleEventDescriptor> m_pending;
    qsizetype m_pendingBytes = 0;
    bool m_holdsEvents = false;
};
