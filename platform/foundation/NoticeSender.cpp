#include "NoticeSender.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Nothing is kept from what reaches this connection; a peer that sends it more
// cannot make it hold much.
constexpr long kMostReceivedBytes = 64 * 1024;
// The bus library takes a whole message in before it can be dropped, and the
// memory a large one took stays with the program. A call of ordinary size is
// answered with an error; a larger message ends the connection, and the program
// posts Qt's way until it takes its notices name again.
constexpr long kMostMessageBytes = 2 * 1024 * 1024;
// The bus library reads a few KB at a time: this many reads, then the event
// loop's other work has its turn before the rest.
constexpr int kMostReadsPerTurn = 128;
// Calls are answered while the answers already waiting stay below this; a
// caller that never reads its answers gets no more.
constexpr long kMostWaitingAnswerBytes = 64 * 1024;

bool appendText(DBusMessageIter* iter, const QString& text)
{
    // QString's UTF-8 is always valid, which the bus library checks.
    const QByteArray bytes = text.toUtf8();
    const char* data = bytes.constData();
    return dbus_message_iter_append_basic(iter, DBUS_TYPE_STRING, &data);
}

}  // namespace

NoticeSender::~NoticeSender()
{
    close();
}

QString NoticeSender::noticesName(const QString& programName)
{
    return programName + QStringLiteral(".notices");
}

bool NoticeSender::isOpen() const
{
    const QMutexLocker lock(&m_mutex);
    return m_connection != nullptr;
}

QString NoticeSender::uniqueName() const
{
    const QMutexLocker lock(&m_mutex);
    return m_uniqueName;
}

bool NoticeSender::open(const QString& programName)
{
    {
        const QMutexLocker lock(&m_mutex);
        if (m_connection || m_opening)
            return m_connection != nullptr;
        m_opening = true;
    }
    // The bus's answers are waited for without the lock, so a post never waits on them.
    DBusConnection* connection = connect(noticesName(programName).toUtf8());
    const QMutexLocker lock(&m_mutex);
    m_opening = false;
    if (!connection)
        return false;
    m_connection = connection;
    int socket = -1;
    if (dbus_connection_get_socket(connection, &socket))
        m_incoming = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    m_uniqueName = QString::fromUtf8(dbus_bus_get_unique_name(connection));
    return true;
}

DBusConnection* NoticeSender::connect(const QByteArray& name)
{
    if (!dbus_threads_init_default())
        return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!connection) {
        dbus_error_free(&error);
        return nullptr;
    }
    // The library would otherwise end the whole program when the bus goes away.
    dbus_connection_set_exit_on_disconnect(connection, false);
    dbus_connection_set_max_received_size(connection, kMostReceivedBytes);
    dbus_connection_set_max_message_size(connection, kMostMessageBytes);
    const int reply = dbus_bus_request_name(connection, name.constData(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error);
    dbus_error_free(&error);
    discardIncoming(connection);
    if (reply != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER && reply != DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        return nullptr;
    }
    return connection;
}

DBusMessage* NoticeSender::build(const char* path, const char* interface, const char* member, const QString& name,
                                const QString& object, const QMap<QString, QString>& userInfo)
{
    DBusMessage* message = dbus_message_new_signal(path, interface, member);
    if (!message)
        return nullptr;
    DBusMessageIter args;
    DBusMessageIter map;
    dbus_message_iter_init_append(message, &args);
    bool built = appendText(&args, name) && appendText(&args, object) &&
                 dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{ss}", &map);
    if (built) {
        // Only running out of memory fails here; a container left open would
        // make the library abort, so a failed one is abandoned.
        for (auto it = userInfo.cbegin(); built && it != userInfo.cend(); ++it) {
            DBusMessageIter entry;
            if (!dbus_message_iter_open_container(&map, DBUS_TYPE_DICT_ENTRY, nullptr, &entry)) {
                built = false;
            } else if (!appendText(&entry, it.key()) || !appendText(&entry, it.value())) {
                dbus_message_iter_abandon_container(&map, &entry);
                built = false;
            } else {
                built = dbus_message_iter_close_container(&map, &entry);
            }
        }
        if (built)
            built = dbus_message_iter_close_container(&args, &map);
        else
            dbus_message_iter_abandon_container(&args, &map);
    }
    if (!built) {
        dbus_message_unref(message);
        return nullptr;
    }
    dbus_message_set_no_reply(message, true);
    return message;
}

bool NoticeSender::send(const char* path, const char* interface, const char* member, const QString& name,
                        const QString& object, const QMap<QString, QString>& userInfo, bool* waiting)
{
    const QMutexLocker lock(&m_mutex);
    if (!m_connection || !dbus_connection_get_is_connected(m_connection)) {
        closeLocked();
        return false;
    }
    if (!m_last || m_lastPath != path || m_lastInterface != interface || m_lastMember != member ||
        m_lastName != name || m_lastObject != object || m_lastUserInfo != userInfo) {
        DBusMessage* built = build(path, interface, member, name, object, userInfo);
        if (!built)
            return false;
        if (m_last)
            dbus_message_unref(m_last);
        m_last = built;
        m_lastPath = path;
        m_lastInterface = interface;
        m_lastMember = member;
        m_lastName = name;
        m_lastObject = object;
        m_lastUserInfo = userInfo;
    }
    // A copy gets a serial of its own when sent.
    DBusMessage* message = dbus_message_copy(m_last);
    if (!message)
        return false;
    // Written now when the socket takes it, which it nearly always does.
    const bool sent = dbus_connection_send(m_connection, message, nullptr);
    dbus_message_unref(message);
    *waiting = sent && dbus_connection_has_messages_to_send(m_connection);
    return sent;
}

int NoticeSender::incomingSocket() const
{
    const QMutexLocker lock(&m_mutex);
    return m_incoming;
}

bool NoticeSender::readIncoming(int socket)
{
    const QMutexLocker lock(&m_mutex);
    if (!m_connection || socket < 0 || socket != m_incoming)
        return false;
    for (int read = 0; read < kMostReadsPerTurn; ++read) {
        if (!dbus_connection_read_write(m_connection, 0)) {
            closeLocked();
            return false;
        }
        discardIncoming(m_connection);
        if (!socketReadable(socket))
            break;
    }
    return true;
}

bool NoticeSender::socketReadable(int socket)
{
    struct pollfd ready = {socket, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}

bool NoticeSender::writeWaiting()
{
    const QMutexLocker lock(&m_mutex);
    if (!m_connection)
        return false;
    if (!dbus_connection_read_write(m_connection, 0)) {
        closeLocked();
        return false;
    }
    discardIncoming(m_connection);
    return dbus_connection_has_messages_to_send(m_connection);
}

void NoticeSender::close()
{
    const QMutexLocker lock(&m_mutex);
    closeLocked();
}

void NoticeSender::closeLocked()
{
    if (m_last) {
        dbus_message_unref(m_last);
        m_last = nullptr;
    }
    if (!m_connection)
        return;
    // Ends the socket for the watcher's descriptor too, which keeps it open.
    if (m_incoming >= 0)
        ::shutdown(m_incoming, SHUT_RDWR);
    m_incoming = -1;
    dbus_connection_close(m_connection);
    dbus_connection_unref(m_connection);
    m_connection = nullptr;
}

void NoticeSender::discardIncoming(DBusConnection* connection)
{
    while (DBusMessage* message = dbus_connection_pop_message(connection)) {
        if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL && !dbus_message_get_no_reply(message) &&
            dbus_connection_get_outgoing_size(connection) < kMostWaitingAnswerBytes) {
            if (DBusMessage* error = dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD,
                                                            "This connection only sends notices.")) {
                dbus_connection_send(connection, error, nullptr);
                dbus_message_unref(error);
            }
        }
        dbus_message_unref(message);
    }
}
