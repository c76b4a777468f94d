#pragma once
// An error as the Mac's frameworks report it: a domain, a code and a user-info
// dictionary whose localized description is the message. The launchd control
// library hands these on unchanged and makes its own of the same kind.
#include <QString>
#include <QVariantMap>

struct CFError {
    static constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";

    QString domain;
    qint64 code = 0;
    QVariantMap userInfo;

    static CFError make(const QString& domain, qint64 code, const QString& message)
    {
        return {domain, code, {{QString::fromLatin1(NSLocalizedDescriptionKey), message}}};
    }
    QString localizedDescription() const
    {
        return userInfo.value(QString::fromLatin1(NSLocalizedDescriptionKey)).toString();
    }
};
