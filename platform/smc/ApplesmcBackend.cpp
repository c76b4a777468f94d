#include "ApplesmcBackend.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "VirtualSMC.h"

namespace smc {

namespace {

constexpr char kFanDigits[] = "0123456789ABCDEFGHIJ";
constexpr int kMaxFans = 20;
// Another process may move the shared index between our write and read.
constexpr int kIndexAttempts = 3;

struct FanKey {
    int fan = -1;        // 0-based, as in the SMC key
    std::string suffix;  // "Ac", "Mn", "Mx", "Tg", "Md", "ID"
};

std::optional<FanKey> parseFanKey(const std::string& key)
{
    if (key.size() != 4 || key[0] != 'F' || key[1] == '\0')
        return std::nullopt;
    const char* digit = std::strchr(kFanDigits, key[1]);
    if (!digit)
        return std::nullopt;
    return FanKey{static_cast<int>(digit - kFanDigits), key.substr(2)};
}

bool isWritableFanSuffix(const std::string& suffix)
{
    return suffix == "Md" || suffix == "Tg" || suffix == "Mn";
}

std::string fanAttribute(int fan, const char* name)
{
    return "fan" + std::to_string(fan + 1) + "_" + name;
}

// Drops the one newline the driver appends; spaces are part of the value.
std::string withoutNewline(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::optional<long long> parseInteger(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    const std::string value = withoutNewline(*text);
    if (value.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (errno != 0 || end == value.c_str() || *end != '\0')
        return std::nullopt;
    return number;
}

SMCKeyInfo makeInfo(const char* type, uint32_t size)
{
    return SMCKeyInfo{size, keyCode(type), kSMCAttrRead};
}

}  // namespace

SysfsDevice::SysfsDevice(std::string directory) : m_directory(std::move(directory)) {}

std::optional<std::string> SysfsDevice::read(const std::string& attribute)
{
    const int fd = ::open((m_directory + "/" + attribute).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string contents;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return contents;
}

bool SysfsDevice::write(const std::string& attribute, const std::string& value)
{
    // No O_CREAT: writing an attribute the driver lacks must fail, not make a file.
    const int fd = ::open((m_directory + "/" + attribute).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::write(fd, value.data(), value.size());
    } while (n < 0 && errno == EINTR);
    const bool closed = ::close(fd) == 0;
    return closed && n == static_cast<ssize_t>(value.size());
}

bool SysfsDevice::canWrite(const std::string& attribute)
{
    return ::access((m_directory + "/" + attribute).c_str(), W_OK) == 0;
}

ApplesmcBackend::ApplesmcBackend(const std::string& devicePath)
    : m_device(std::make_unique<SysfsDevice>(devicePath))
{
}

ApplesmcBackend::ApplesmcBackend(std::unique_ptr<SysfsDevice> device) : m_device(std::move(device)) {}

bool ApplesmcBackend::isPresent(const std::string& devicePath)
{
    struct stat st;
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    for (const char* attribute : {"key_count", "fan1_input", "temp1_input"}) {
        if (::access((devicePath + "/" + attribute).c_str(), F_OK) == 0)
            return true;
    }
    return false;
}

bool ApplesmcBackend::readsByIndex()
{
    std::lock_guard lock(m_mutex);
    return byIndex();
}

bool ApplesmcBackend::byIndex()
{
    if (!m_byIndex)
        m_byIndex = m_device->canWrite("key_at_index") && keyCount() > 0;
    return *m_byIndex;
}

int ApplesmcBackend::keyCount()
{
    if (!m_keyCount)
        m_keyCount = static_cast<int>(std::max(0LL, parseInteger(m_device->read("key_count")).value_or(0)));
    return *m_keyCount;
}

int ApplesmcBackend::fanCount()
{
    if (!m_fanCount) {
        int count = 0;
        while (count < kMaxFans && m_device->read(fanAttribute(count, "input")))
            ++count;
        m_fanCount = count;
    }
    return *m_fanCount;
}

std::optional<std::string> ApplesmcBackend::readAtIndex(int index, const char* attribute)
{
    const std::string wanted = std::to_string(index);
    for (int attempt = 0; attempt < kIndexAttempts; ++attempt) {
        if (!m_device->write("key_at_index", wanted))
            return std::nullopt;
        auto value = m_device->read(attribute);
        if (!value)
            return std::nullopt;
        if (parseInteger(m_device->read("key_at_index")) == index)
            return value;
    }
    return std::nullopt;
}

std::optional<uint32_t> ApplesmcBackend::nameAt(int index)
{
    const auto cached = m_names.find(index);
    if (cached != m_names.end())
        return cached->second;
    const auto name = readAtIndex(index, "key_at_index_name");
    if (!name)
        return std::nullopt;
    const uint32_t code = keyCode(withoutNewline(*name));
    m_names.emplace(index, code);
    return code;
}

uint8_t ApplesmcBackend::findIndex(uint32_t key, int& index)
{
    // The driver lists keys sorted by code, first character most significant.
    int low = 0;
    int high = keyCount() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const auto code = nameAt(middle);
        if (!code)
            return kSMCError;
        if (*code == key) {
            index = middle;
            return kSMCSuccess;
        }
        if (*code < key)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return kSMCKeyNotFound;
}

bool ApplesmcBackend::fanWritable(const std::string& key)
{
    const auto fan = parseFanKey(key);
    return fan && isWritableFanSuffix(fan->suffix) && fan->fan < fanCount();
}

std::optional<ApplesmcBackend::Entry> ApplesmcBackend::entryByIndex(int index)
{
    const auto type = readAtIndex(index, "key_at_index_type");
    const auto length = parseInteger(readAtIndex(index, "key_at_index_data_length"));
    if (!type || !length || *length < 0)
        return std::nullopt;
    Entry e;
    e.index = index;
    e.info.dataType = keyCode(withoutNewline(*type));
    e.info.dataSize = static_cast<uint32_t>(*length);
    e.info.attributes = kSMCAttrRead;
    return e;
}

std::optional<ApplesmcBackend::Entry> ApplesmcBackend::entryByAttribute(const std::string& key)
{
    Entry e;
    if (key == "FNum") {
        e.info = makeInfo("ui8 ", 1);  // no attribute: counted from the fan files
        return e;
    }
    if (const auto fan = parseFanKey(key)) {
        static const struct {
            const char* suffix;
            const char* attribute;
            const char* type;
            uint32_t size;
        } kFanKeys[] = {
            {"Ac", "input", "fpe2", 2},  {"Mn", "min", "fpe2", 2},   {"Mx", "max", "fpe2", 2},
            {"Tg", "output", "fpe2", 2}, {"Md", "manual", "ui8 ", 1}, {"ID", "label", "{fds", 16},
        };
        for (const auto& k : kFanKeys) {
            if (fan->suffix != k.suffix)
                continue;
            e.attribute = fanAttribute(fan->fan, k.attribute);
            if (!m_device->read(e.attribute))
                return std::nullopt;
            e.info = makeInfo(k.type, k.size);
            return e;
        }
    }
    if (!m_temperatures) {
        m_temperatures.emplace();
        for (int n = 1;; ++n) {
            const auto label = m_device->read("temp" + std::to_string(n) + "_label");
            if (!label)
                break;
            m_temperatures->emplace(withoutNewline(*label), "temp" + std::to_string(n) + "_input");
        }
    }
    const auto temperature = m_temperatures->find(key);
    if (temperature == m_temperatures->end())
        return std::nullopt;
    e.attribute = temperature->second;
    e.info = makeInfo("sp78", 2);
    return e;
}

uint8_t ApplesmcBackend::entry(uint32_t key, const Entry*& found)
{
    if (const auto cached = m_entries.find(key); cached != m_entries.end()) {
        found = cached->second ? &*cached->second : nullptr;
        return found ? kSMCSuccess : kSMCKeyNotFound;
    }
    std::optional<Entry> e;
    if (byIndex()) {
        int index = -1;
        const uint8_t result = findIndex(key, index);
        if (result == kSMCError)
            return result;  // not cached: the next call may succeed
        if (result == kSMCSuccess) {
            e = entryByIndex(index);
            if (!e)
                return kSMCError;
        }
    } else {
        e = entryByAttribute(keyText(key));
    }
    if (e && fanWritable(keyText(key)))
        e->info.attributes |= kSMCAttrWrite;
    const auto& stored = m_entries.emplace(key, std::move(e)).first->second;
    found = stored ? &*stored : nullptr;
    return found ? kSMCSuccess : kSMCKeyNotFound;
}

uint8_t ApplesmcBackend::keyInfo(uint32_t key, SMCKeyInfo& info)
{
    std::lock_guard lock(m_mutex);
    const Entry* e = nullptr;
    if (const uint8_t result = entry(key, e); result != kSMCSuccess)
        return result;
    info = e->info;
    return kSMCSuccess;
}

uint8_t ApplesmcBackend::readKey(uint32_t key, uint32_t dataSize, SMCBytes& out)
{
    std::lock_guard lock(m_mutex);
    const Entry* e = nullptr;
    if (const uint8_t result = entry(key, e); result != kSMCSuccess)
        return result;
    if (dataSize != e->info.dataSize)
        return kSMCKeySizeMismatch;
    out.fill(0);

    if (e->index >= 0) {
        const auto data = readAtIndex(e->index, "key_at_index_data");
        if (!data)
            return kSMCError;
        std::copy_n(data->begin(), std::min({data->size(), size_t{e->info.dataSize}, out.size()}),
                    out.begin());
        return kSMCSuccess;
    }
    if (e->attribute.empty()) {
        out[0] = static_cast<uint8_t>(fanCount());
        return kSMCSuccess;
    }
    const auto text = m_device->read(e->attribute);
    if (!text)
        return kSMCError;
    const std::string type = keyText(e->info.dataType);
    if (type == "{fds") {
        // Type, zone, location and a reserved byte precede the 12-character name.
        const std::string label = withoutNewline(*text);
        for (size_t i = 0; i < 12; ++i)
            out[4 + i] = i < label.size() ? static_cast<uint8_t>(label[i]) : ' ';
        return kSMCSuccess;
    }
    const auto value = parseInteger(text);
    if (!value)
        return kSMCError;
    const double scaled = type == "sp78" ? *value / 1000.0 : static_cast<double>(*value);
    const auto bytes = encodeSMCValue(type, e->info.dataSize, scaled);
    std::copy_n(bytes.begin(), std::min(bytes.size(), out.size()), out.begin());
    return kSMCSuccess;
}

uint8_t ApplesmcBackend::writeKey(uint32_t key, uint32_t dataSize, const SMCBytes& in)
{
    std::lock_guard lock(m_mutex);
    const Entry* e = nullptr;
    if (const uint8_t result = entry(key, e); result != kSMCSuccess)
        return result;
    if (!(e->info.attributes & kSMCAttrWrite))
        return kSMCKeyNotWritable;
    if (dataSize != e->info.dataSize)
        return kSMCKeySizeMismatch;

    const auto fan = parseFanKey(keyText(key));
    std::string attribute;
    std::string value;
    if (fan->suffix == "Md") {
        attribute = fanAttribute(fan->fan, "manual");
        value = in[0] ? "1" : "0";
    } else {
        attribute = fanAttribute(fan->fan, fan->suffix == "Tg" ? "output" : "min");
        const std::vector<uint8_t> bytes(in.begin(), in.begin() + std::min<size_t>(dataSize, in.size()));
        const auto rpm = decodeSMCValue(keyText(e->info.dataType), bytes);
        if (!rpm || !std::isfinite(*rpm))
            return kSMCBadParameter;
        value = std::to_string(std::llround(std::clamp(*rpm, 0.0, 1e6)));
    }
    return m_device->write(attribute, value) ? kSMCSuccess : kSMCError;
}

}  // namespace smc
