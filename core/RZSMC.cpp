#include "RZSMC.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "JSKDevice.h"
#include "KLCoreDataHelper.h"
#include "NSBundle.h"
#include "NSFileManager.h"
#include <QProcess>
#include "PropertyList.h"

namespace {

constexpr char kFanDigits[] = "0123456789ABCDEFGHIJ";

QStringList sortedKeysOfSection(const QVariantMap& table, const QString& section)
{
    QVariantList entries = table.value(section).toMap().values();
    std::stable_sort(entries.begin(), entries.end(), [](const QVariant& a, const QVariant& b) {
        return a.toMap().value(QStringLiteral("index")).toDouble() < b.toMap().value(QStringLiteral("index")).toDouble();
    });
    QStringList keys;
    keys.reserve(entries.size());
    for (const QVariant& entry : entries)
        keys.append(entry.toMap().value(QStringLiteral("key")).toString());
    return keys;
}

// The first four bytes of the key's UTF-8 text, zero-padded.
void keyBytes(const QString& key, char out[5])
{
    std::memset(out, 0, 5);
    bool ascii = true;
    for (qsizetype i = 0; i < key.size() && i < 4; ++i)
        ascii = ascii && key.at(i).unicode() < 0x80;
    if (ascii) {
        for (qsizetype i = 0; i < key.size() && i < 4; ++i)
            out[i] = static_cast<char>(key.at(i).unicode());
        return;
    }
    const QByteArray utf8 = key.toUtf8();
    std::memcpy(out, utf8.constData(), static_cast<size_t>(std::min<qsizetype>(utf8.size(), 4)));
}

uint16_t bigEndian16(const RZSMCValue& value)
{
    return static_cast<uint16_t>(value.bytes[0] << 8 | value.bytes[1]);
}

}  // namespace

RZSMC& RZSMC::smc()
{
    static RZSMC instance;
    return instance;
}

RZSMC::RZSMC()
{
    smcOpenConnection();
    const QString path = NSBundle::mainBundle().pathForResource(QStringLiteral("RZSMC"), QStringLiteral("plist"));
    if (!path.isNull())
        m_allSensorsDict = PropertyList::readFile(path).toMap();
    m_allTempKeys = sortedKeysOfSection(m_allSensorsDict, QStringLiteral("Temperature"));
    m_allVoltageKeys = sortedKeysOfSection(m_allSensorsDict, QStringLiteral("Voltage"));
    m_allCurrentKeys = sortedKeysOfSection(m_allSensorsDict, QStringLiteral("Current"));
    m_allPowerKeys = sortedKeysOfSection(m_allSensorsDict, QStringLiteral("Power"));
}

RZSMC::~RZSMC()
{
    smcCloseConnection();
}

QStringList RZSMC::workingKeys(const QStringList& keys)
{
    QStringList working;
    for (const QString& key : keys) {
        if (rawValueForKey(key) != 0)  // NaN compares unequal, so it counts as a reading
            working.append(key);
    }
    return working;
}

QStringList RZSMC::workingTempKeys()
{
    return workingKeys(m_allTempKeys);
}

QStringList RZSMC::workingVoltageKeys()
{
    return workingKeys(m_allVoltageKeys);
}

QStringList RZSMC::workingCurrentKeys()
{
    return workingKeys(m_allCurrentKeys);
}

QStringList RZSMC::workingPowerKeys()
{
    return workingKeys(m_allPowerKeys);
}

QString RZSMC::fanKey(const char* pattern, unsigned long fan)
{
    return QString::asprintf(pattern, kFanDigits[std::min(fan, kMaxFans - 1)]);
}

double RZSMC::rawValueForFanKey(const char* pattern, unsigned long fan)
{
    // The patterns are "F%c" and two letters: the key is put together in place.
    const char key[5] = {pattern[0], kFanDigits[fan], pattern[3], pattern[4], '\0'};
    return rawValueForBytes(key);
}

unsigned long RZSMC::numberOfFans()
{
    const double count = rawValueForKey(QStringLiteral("FNum"));
    return count > 0 && std::isfinite(count) ? static_cast<unsigned long>(count) : 0;
}

// A fan beyond the twenty that keys can name has no reading.
double RZSMC::speedOfFan(unsigned long fan)
{
    return fan < kMaxFans ? rawValueForFanKey("F%cAc", fan) : 0;
}

double RZSMC::safeMinimumSpeedOfFan(unsigned long fan)
{
    return fan < kMaxFans ? rawValueForFanKey("F%cMn", fan) : 0;
}

double RZSMC::safeMaximumSpeedOfFan(unsigned long fan)
{
    return fan < kMaxFans ? rawValueForFanKey("F%cMx", fan) : 0;
}

QString RZSMC::descriptionOfFan(unsigned long fan)
{
    RZSMCValue value{};
    if (fan < kMaxFans) {
        char key[5];
        keyBytes(fanKey("F%cID", fan), key);
        smcReadKey(key, &value);
    }
    if (value.dataSize == 0)
        return QStringLiteral("Fan %1").arg(fan + 1);
    QString description;
    for (uint32_t i = 0; i < value.dataSize && i < sizeof value.bytes; ++i) {
        if (value.bytes[i] > 0x20)
            description.append(QChar(value.bytes[i]));
    }
    return description;
}

double RZSMC::temperatureInCelsiusForKey(const QString& key)
{
    return rawValueForKey(key);
}

double RZSMC::temperatureInFahrenheitForKey(const QString& key)
{
    return rawValueForKey(key) * 9.0 / 5.0 + 32.0;
}

QVariantMap RZSMC::entryForKey(const QString& key) const
{
    for (auto section = m_allSensorsDict.cbegin(); section != m_allSensorsDict.cend(); ++section) {
        const QVariantMap entries = section.value().toMap();
        const auto found = entries.constFind(key);
        if (found != entries.cend())
            return found.value().toMap();
    }
    return {};
}

QString RZSMC::humanReadableNameForKey(const QString& key) const
{
    const QVariantMap entry = entryForKey(key);
    return entry.isEmpty() ? QString() : entry.value(QStringLiteral("name")).toString();
}

long RZSMC::sensorGroupForKey(const QString& key) const
{
    return static_cast<long>(entryForKey(key).value(QStringLiteral("group")).toLongLong());
}

double RZSMC::rawValueForKey(const QString& key)
{
    char bytes[5];
    keyBytes(key, bytes);
    return rawValueForBytes(bytes);
}

double RZSMC::rawValueForBytes(const char* key)
{
    RZSMCValue value;
    if (smcReadKey(key, &value) != kIOReturnSuccess)
        return 0;
    return convertToNumber(value);
}

float RZSMC::convertToNumber(const RZSMCValue& value) const
{
    const uint32_t size = value.dataSize;
    if (size == 0)
        return 0;
    // The type as one number: four compares of words instead of strings.
    // A type text that does not end after four bytes names no type.
    if (value.dataType[4] != '\0')
        return 0;
    const uint32_t type = smcKeyCode(value.dataType);
    constexpr auto code = [](const char (&text)[5]) {
        return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
               static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 | static_cast<uint8_t>(text[3]);
    };

    if (type == code("ui8 "))
        return size == 1 ? value.bytes[0] : 0;
    if (type == code("ui16") || type == code("ui32")) {
        // A size beyond the value's 32 bytes cannot be read.
        if (size > sizeof value.bytes)
            return 0;
        return static_cast<float>(smcBytesToUInt(value.bytes, static_cast<int>(size), 10));
    }
    if (type == code("flt ")) {
        if (size != 4)
            return 0;
        float f;
        std::memcpy(&f, value.bytes, 4);
        return f;
    }
    if (type == code("si8 "))
        return size == 1 ? value.bytes[0] : 0;
    if (size != 2)
        return 0;

    struct Scale {
        uint32_t type;
        int fractionBits;
        bool isSigned;
    };
    static constexpr Scale scales[] = {
        {code("fp1f"), 15, false}, {code("fp4c"), 12, false}, {code("fp5b"), 11, false}, {code("fp6a"), 10, false},
        {code("fp79"), 9, false},  {code("fp88"), 8, false},  {code("fpa6"), 6, false},  {code("fpc4"), 4, false},
        {code("fpe2"), 2, false},  {code("sp1e"), 14, true},  {code("sp3c"), 12, true},  {code("sp4b"), 11, true},
        {code("sp5a"), 10, true},  {code("sp69"), 9, true},   {code("sp78"), 8, true},   {code("sp87"), 7, true},
        {code("sp96"), 6, true},   {code("spb4"), 4, true},   {code("spf0"), 0, false},  {code("si16"), 0, false},
    };
    const uint16_t raw = bigEndian16(value);
    for (const Scale& scale : scales) {
        if (type == scale.type) {
            const double v = scale.isSigned ? static_cast<double>(static_cast<int16_t>(raw)) : raw;
            return static_cast<float>(v / std::ldexp(1.0, scale.fractionBits));
        }
    }
    if (type == code("{pwm"))
        return static_cast<float>(raw * 100.0 / 65536.0);
    return 0;
}

QString RZSMC::createCheckSum(const QString& path) const
{
    QFile file(path);
    // A file that cannot be read has no checksum: it matches nothing, not even another one.
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray contents;
    if (const uchar* mapped = file.map(0, file.size()))
        contents = QByteArray(reinterpret_cast<const char*>(mapped), file.size());
    else
        contents = file.readAll();
    return QString::fromLatin1(QCryptographicHash::hash(contents, QCryptographicHash::Md5).toHex());
}

const QStringList& RZSMC::targetSpeedModels()
{
    static const QStringList models{
        QStringLiteral("MacBookPro15,1"), QStringLiteral("MacBookPro15,2"), QStringLiteral("MacBookPro15,3"),
        QStringLiteral("MacBookPro15,4"), QStringLiteral("MacBookAir8,1"),  QStringLiteral("MacBookAir8,2"),
        QStringLiteral("iMac19,1"),       QStringLiteral("iMac19,2"),       QStringLiteral("Macmini8,1"),
    };
    return models;
}

QString RZSMC::smcToolPath()
{
    return KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory() + QStringLiteral("/Kelvara SMC");
}

bool RZSMC::setSpeed(unsigned long speed, unsigned long fan, bool autoMode)
{
    // No key names a fan beyond the twentieth.
    if (fan >= kMaxFans)
        return false;
    const JSKDSystemReport* system = JSKDevice::device().systemInfo();
    const QString model = system ? system->rawModelString : QString();
    if (targetSpeedModels().contains(model)) {
        setExternalValue(autoMode ? QStringLiteral("00") : QStringLiteral("01"), fanKey("F%cMd", fan));
        const float target = static_cast<float>(speed);
        uint8_t bytes[4];
        std::memcpy(bytes, &target, sizeof bytes);  // host order: lowest byte first
        const QString hex = QString::asprintf("%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
        return setExternalValue(hex, fanKey("F%cTg", fan));
    }
    return setExternalValue(QString::asprintf("%.4lx", speed << 2), fanKey("F%cMn", fan));
}

bool RZSMC::setExternalValue(const QString& value, const QString& key)
{
    const QString tool = smcToolPath();
    if (!QFileInfo::exists(tool))
        return false;
    QProcess process;
    process.setProgram(tool);
    process.setArguments({QStringLiteral("-k"), key, QStringLiteral("-w"), value});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}
