#pragma once
// A session-bus connection of a program's own that only sends its notices,
// written at once from the posting thread. Qt's connection hands every message
// to its bus thread first, waking that thread for each post; for a notice sent
// every poll tick that hop costs more than building the message.
// It speaks for the program through a second bus name, "<program name>.notices",
// which it owns while the program runs; without that name it sends nothing.
#include <QMap>
#include <QMutex>
#include <QString>

struct DBusConnection;
struct DBusMessage;

class NoticeSender {
public:
    NoticeSender() = default;
    ~NoticeSender();
    NoticeSender(const NoticeSender&) = delete;
    NoticeSender& operator=(const NoticeSender&) = delete;

    // The name the connection asks for on behalf of a program's bus name.
    static QString noticesName(const QString& programName);

    // Connects and takes the notices name of programName; false when the bus or
    // the name is not to be had (someone else holds it). Callable again later.
    // Waits for the bus's answers: call it from a thread that posts nothing.
    bool open(const QString& programName);
    bool isOpen() const;
    // Sends a signal of (name, object, userInfo); false when it could not be
    // queued. waiting tells whether part of it waits for the socket.
    bool send(const char* path, const char* interface, const char* member, const QString& name,
              const QString& object, const QMap<QString, QString>& userInfo, bool* waiting);
    // A post the socket could not take at once waits in the connection; this
    // writes what it can without blocking. True while some is still waiting.
    bool writeWaiting();
    // A second descriptor of the open connection's socket, for the event loop to
    // watch; -1 when none is open. The watcher closes it once readIncoming
    // refuses it; it stays apart from the connection's own, which the bus library
    // may close on any thread.
    int incomingSocket() const;
    // Reads what waits on the socket and drops it, answering calls with an error:
    // this connection serves nothing, and what it does not read piles up in the
    // bus daemon. A message larger than a call needs ends the connection. False
    // once socket is not the open connection's.
    bool readIncoming(int socket);
    // The unique name of the last connection opened, kept once it closed (its
    // posts may still be on their way); empty before the first.
    QString uniqueName() const;
    void close();

private:
    static DBusConnection* connect(const QByteArray& name);
    static void discardIncoming(DBusConnection* connection);
    static bool socketReadable(int socket);
    void closeLocked();
    DBusMessage* build(const char* path, const char* interface, const char* member, const QString& name,
                       const QString& object, const QMap<QString, QString>& userInfo);

    mutable QMutex m_mutex;
    DBusConnection* m_connection = nullptr;
    int m_incoming = -1;
    bool m_opening = false;
    QString m_uniqueName;
    // The last signal built, copied while the same one is posted again (every
    // tick's notice is): building one costs many times a copy.
    DBusMessage* m_last = nullptr;
    QByteArray m_lastPath;
    QByteArray m_lastInterface;
    QByteArray m_lastMember;
    QString m_lastName;
    QString m_lastObject;
    QMap<QString, QString> m_lastUserInfo;
};
