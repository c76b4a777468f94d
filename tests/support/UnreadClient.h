#pragma once
#include <QByteArray>
#include <QString>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstddef>
#include <cstring>

// A client on its own socket that sends method calls and never reads a byte
// back, as a hostile program might: the bus keeps the answers for it, then stops
// taking more from the program answering.
class UnreadClient {
public:
    UnreadClient()
    {
        const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        socklen_t length = 0;
        for (const QString& part : address.section(QLatin1Char(':'), 1).split(QLatin1Char(','))) {
            const QByteArray value = part.section(QLatin1Char('='), 1).toLocal8Bit();
            const bool abstract = part.startsWith(QLatin1String("abstract="));
            if ((abstract || part.startsWith(QLatin1String("path="))) && value.size() + 1 < qsizetype(sizeof(where.sun_path))) {
                // An abstract name starts with a zero byte and has no terminating one.
                std::memcpy(where.sun_path + (abstract ? 1 : 0), value.constData(), size_t(value.size()));
                length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(value.size()) + 1);
            }
        }
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (m_fd < 0 || length == 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&where), length) != 0)
            return;
        const QByteArray auth = QByteArray("\0AUTH EXTERNAL ", 15) + QByteArray::number(::getuid()).toHex() + "\r\n";
        char answer[256] = {};
        if (!writeAll(auth) || ::read(m_fd, answer, sizeof answer - 1) < 2 || std::strncmp(answer, "OK", 2) != 0)
            return;
        m_ok = writeAll("BEGIN\r\n") &&
               writeAll(call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("Hello"), {}, {}));
    }
    ~UnreadClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_ok; }

    bool send(const QString& destination, const QString& path, const QString& interface, const QString& member,
              const QByteArray& signature = {}, const QByteArray& body = {})
    {
        return writeAll(call(destination, path, interface, member, signature, body));
    }

    static int pad(qsizetype size, int to) { return int((to - size % to) % to); }
    static QByteArray text(const QString& value)
    {
        const QByteArray bytes = value.toUtf8();
        const quint32 length = quint32(bytes.size());
        return QByteArray(reinterpret_cast<const char*>(&length), 4) + bytes + QByteArray(1, '\0');
    }

private:
    // A method call in the wire format, little-endian.
    QByteArray call(const QString& destination, const QString& path, const QString& interface, const QString& member,
                    const QByteArray& signature, const QByteArray& body)
    {
        QByteArray fields;
        auto field = [&](char code, char type, const QByteArray& value) {
            fields.append(QByteArray(pad(fields.size(), 8), '\0')).append(code).append('\1').append(type).append('\0');
            if (type == 'g') {
                fields.append(char(value.size())).append(value).append('\0');
                return;
            }
            fields.append(QByteArray(pad(fields.size(), 4), '\0')).append(text(QString::fromUtf8(value)));
        };
        field(1, 'o', path.toUtf8());
        field(2, 's', interface.toUtf8());
        field(3, 's', member.toUtf8());
        field(6, 's', destination.toUtf8());
        if (!signature.isEmpty())
            field(8, 'g', signature);
        const quint32 header[3] = {quint32(body.size()), ++m_serial, quint32(fields.size())};
        QByteArray message("l\1\0\1", 4);
        message.append(reinterpret_cast<const char*>(header), sizeof header).append(fields);
        return message.append(QByteArray(pad(message.size(), 8), '\0')).append(body);
    }
    bool writeAll(const QByteArray& bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t written = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (written <= 0)
                return false;
            done += written;
        }
        return true;
    }

    int m_fd = -1;
    bool m_ok = false;
    quint32 m_serial = 0;
};
