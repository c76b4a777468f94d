#include "UserJobTable.h"

#include <QDir>
#include <QFile>

#include "OwnFile.h"
#include "PropertyList.h"

namespace {

QString stateFolder()
{
    return QDir::homePath() + QStringLiteral("/.local/state/kelvara");
}

}  // namespace

QString UserJobTable::path()
{
    return stateFolder() + QStringLiteral("/launch-agents.plist");
}

QString UserJobTable::currentBootID()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).trimmed();
}

UserJobTable::UserJobTable()
{
    if (!QDir().mkpath(stateFolder())) {
        m_error = QStringLiteral("Cannot create %1.").arg(stateFolder());
        return;
    }
    m_lock = std::make_unique<QLockFile>(stateFolder() + QStringLiteral("/launch-agents.lock"));
    if (!m_lock->tryLock(10000)) {
        m_error = QStringLiteral("The job table %1 stays locked.").arg(path());
        return;
    }
    m_open = true;
    // Ours to write, so never read through a link; whatever is no file of ours
    // is set aside and the table begins empty.
    const std::string native = QFile::encodeName(path()).toStdString();
    const OwnFile::Contents file = OwnFile::read(native, PropertyList::kMaxDataSize);
    QString reason;
    QVariant table;
    switch (file.outcome) {
    case OwnFile::Contents::Outcome::Missing:
        return;
    case OwnFile::Contents::Outcome::Refused:
    case OwnFile::Contents::Outcome::TooLarge:
        OwnFile::setAsideAndSay(native, "the job table", file.reason, "it is begun anew");
        return;
    case OwnFile::Contents::Outcome::Failed:
        reason = QString::fromStdString(file.reason);
        break;
    case OwnFile::Contents::Outcome::Read:
        table = PropertyList::fromData(QByteArray::fromStdString(file.bytes), &reason);
        break;
    }
    if (table.typeId() != QMetaType::QVariantMap) {
        // An unreadable table holds no job we could act on; it is replaced at the next save.
        qWarning("Ignoring the job table %s: %s", qPrintable(path()),
                 qPrintable(reason.isEmpty() ? QStringLiteral("not a dictionary") : reason));
        return;
    }
    const QString boot = currentBootID();
    const QVariantMap records = table.toMap();
    for (auto it = records.begin(); it != records.end(); ++it) {
        const QVariantMap record = it.value().toMap();
        if (record.value(kJob).typeId() != QMetaType::QVariantMap)
            continue;
        if (record.value(kManager).toString() == kDirect && record.value(kBootID).toString() != boot)
            continue;
        m_records.insert(it.key(), record);
    }
}

UserJobTable::~UserJobTable()
{
    if (m_open)
        m_lock->unlock();
}

bool UserJobTable::save(QString* error)
{
    std::string reason;
    if (!OwnFile::replace(QFile::encodeName(path()).toStdString(),
                          PropertyList::toData(m_records, PropertyList::Format::Binary).toStdString(), 0600, &reason)) {
        if (error)
            *error = QStringLiteral("Cannot write the job table %1: %2").arg(path(), QString::fromStdString(reason));
        return false;
    }
    return true;
}
