#include "VirtualSMC.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sstream>

#include "OwnFile.h"
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace smc {

namespace {

constexpr double kFanRampSeconds = 3.0;
// Far above what the keys of any profile and the fans' ramps take.
constexpr std::size_t kStateLimit = 1024 * 1024;
const char kFanDigits[] = "0123456789ABCDEFGHIJ";

int fractionBits(const std::string& type)
{
    // "fpe2", "sp78": the last hex digit is the count of fraction bits.
    const char c = type[3];
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isFixedPoint(const std::string& type)
{
    return type.size() == 4 && (type.rfind("fp", 0) == 0 || type.rfind("sp", 0) == 0) &&
           fractionBits(type) >= 0;
}

std::string hexOf(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::optional<std::vector<uint8_t>> bytesOfHex(const std::string& text)
{
    if (text.size() % 2)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1 || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

double wallClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double monotonic()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The numbers of a state line, split at single spaces; nothing when any is
// not a finite number or the count differs. from_chars is free of the locale.
template <size_t N>
std::optional<std::array<double, N>> finiteNumbers(std::string_view text)
{
    std::array<double, N> numbers{};
    for (size_t i = 0; i < N; ++i) {
        const size_t space = text.find(' ');
        const std::string_view field = text.substr(0, space);
        double value = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(value))
            return std::nullopt;
        numbers[i] = value;
        if ((space == std::string_view::npos) != (i + 1 == N))
            return std::nullopt;
        if (space != std::string_view::npos)
            text.remove_prefix(space + 1);
    }
    return numbers;
}

// "F" and the fan's digit before a two-letter suffix: fanKey(0, "Mn") is "F0Mn".
std::string fanKey(int fan, const char* suffix)
{
    return {'F', kFanDigits[fan], suffix[0], suffix[1]};
}

// Writes by any VirtualSMC of this process: a reader looks at the state file
// again after one, however soon it reads.
std::atomic<uint64_t> g_writes{0};

// Reads closer together than this belong to one poll and share one look at
// the state file; however long such a run lasts, it looks again this often.
constexpr long long kReadRunGapNs = 1000000;
constexpr long long kLongestShareNs = 100000000;

// A writer waits for another's lock this long at most, as a setting does: a
// stopped or hung holder fails the write instead of stopping the writer.
constexpr int kLockWaitMs = 1500;

// What stands in a state's place and could not be set aside (a folder nobody
// may write in), by state path: said once in this process, not at every look
// of every reader.
std::mutex g_leftMutex;
std::map<std::string, OwnFile::Stamp> g_left;

long long monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void encodeInto(const std::string& type, uint32_t size, double value, uint8_t* bytes)
{
    if (type == "flt " && size == 4) {
        const float f = static_cast<float>(value);
        std::memcpy(bytes, &f, 4);
    } else if (isFixedPoint(type) && size == 2) {
        const double scaled = std::round(value * std::ldexp(1.0, fractionBits(type)));
        const bool isSigned = type[0] == 's' && type != "spf0";
        const double low = isSigned ? -32768.0 : 0.0;
        const double high = isSigned ? 32767.0 : 65535.0;
        const auto raw = static_cast<uint16_t>(static_cast<int32_t>(std::clamp(scaled, low, high)));
        bytes[0] = raw >> 8;
        bytes[1] = raw & 0xFF;
    } else if (type == "ui8 " || type == "ui16" || type == "ui32" || type == "si8 " || type == "si16") {
        // Saturate rather than wrap: 300 in one byte is 255, not 44.
        const double high = size >= 8 ? 9.2e18 : std::ldexp(1.0, 8 * static_cast<int>(size)) - 1;
        auto raw = static_cast<uint64_t>(std::min(std::max(0.0, std::round(value)), high));
        for (int i = static_cast<int>(size) - 1; i >= 0; --i) {
            bytes[i] = raw & 0xFF;
            raw >>= 8;
        }
    }
}

}  // namespace

std::vector<uint8_t> encodeSMCValue(const std::string& type, uint32_t size, double value)
{
    std::vector<uint8_t> bytes(size, 0);
    encodeInto(type, size, value, bytes.data());
    return bytes;
}

std::optional<double> decodeSMCValue(const std::string& type, const std::vector<uint8_t>& bytes)
{
    if (type == "flt " && bytes.size() == 4) {
        float f;
        std::memcpy(&f, bytes.data(), 4);
        return f;
    }
    if (isFixedPoint(type) && bytes.size() == 2) {
        const uint16_t raw = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        const bool isSigned = type[0] == 's' && type != "spf0";
        const double v = isSigned ? static_cast<int16_t>(raw) : raw;
        return std::ldexp(v, -fractionBits(type));
    }
    if (type == "ui8 " || type == "ui16" || type == "ui32" || type == "si8 " || type == "si16") {
        uint64_t raw = 0;
        for (uint8_t b : bytes)
            raw = raw << 8 | b;
        return static_cast<double>(raw);
    }
    return std::nullopt;
}

std::string VirtualSMCState::serialize() const
{
    std::ostringstream out;
    out.precision(17);
    out << "# Kelvara virtual SMC\n";
    out << "profile " << profile << "\n";
    if (clock)
        out << "clock " << *clock << "\n";
    if (load)
        out << "load " << *load << "\n";
    if (power)
        out << "power " << *power << "\n";
    if (administrator)
        out << "administrator " << administrator->first << " " << administrator->second << "\n";
    for (const auto& [key, bytes] : values)
        out << "set " << key << " " << hexOf(bytes) << "\n";
    for (const auto& [fan, ramp] : ramps)
        out << "ramp " << fan << " " << ramp.since << " " << ramp.from << "\n";
    return out.str();
}

VirtualSMCState VirtualSMCState::parse(const std::string& text)
{
    VirtualSMCState state;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("profile ", 0) == 0) {
            state.profile = line.substr(8);
        } else if (line.rfind("clock ", 0) == 0) {
            if (const auto clock = finiteNumbers<1>(std::string_view(line).substr(6)))
                state.clock = (*clock)[0];
        } else if (line.rfind("load ", 0) == 0) {
            if (const auto load = finiteNumbers<1>(std::string_view(line).substr(5)))
                state.load = std::clamp((*load)[0], 0.0, 1.0);
        } else if (line.rfind("power ", 0) == 0) {
            unsigned value;
            char extra;
            if (std::sscanf(line.c_str() + 6, "%u %c", &value, &extra) == 1 && value <= 3)
                state.power = value;
        } else if (line.rfind("administrator ", 0) == 0) {
            std::istringstream names(line.substr(14));
            std::string user, group, extra;
            if (names >> user >> group && !(names >> extra))
                state.administrator = std::make_pair(user, group);
        } else if (line.rfind("set ", 0) == 0 && line.size() >= 10 && line[8] == ' ') {
            // Keys may hold a space ("FS! "), so the key is taken by position.
            if (auto bytes = bytesOfHex(line.substr(9)); bytes && bytes->size() <= 32)
                state.values[line.substr(4, 4)] = *bytes;
        } else if (line.rfind("ramp ", 0) == 0) {
            // The fan, when the ramp began and the speed it began at.
            const auto ramp = finiteNumbers<3>(std::string_view(line).substr(5));
            if (ramp && (*ramp)[0] >= 0 && (*ramp)[0] < 20 && (*ramp)[0] == std::floor((*ramp)[0]))
                state.ramps[static_cast<int>((*ramp)[0])] = {(*ramp)[1], (*ramp)[2]};
        }
    }
    return state;
}

VirtualSMC::OpenFile::~OpenFile()
{
    if (fd >= 0)
        ::close(fd);
}

VirtualSMC::VirtualSMC(std::string statePath)
    : m_statePath(std::move(statePath))
{
}

std::string VirtualSMC::defaultStatePath()
{
    const char* home = std::getenv("HOME");
    std::string root = home && *home ? home : "";
    if (root.empty()) {
        if (const passwd* pw = getpwuid(getuid()))
            root = pw->pw_dir;
    }
    return root + "/.local/state/kelvara/virtual-smc";
}

void VirtualSMC::refresh()
{
    const long long t = monotonicNs();
    const uint64_t writes = g_writes.load(std::memory_order_acquire);
    const bool sameRun = m_checked && writes == m_writesSeen && t - m_readAt < kReadRunGapNs &&
                         t - m_checkedAt < kLongestShareNs;
    m_readAt = t;
    if (sameRun)
        return;
    m_checked = true;
    m_checkedAt = t;
    m_writesSeen = writes;
    reload();
}

void VirtualSMC::reload(bool locked)
{
    // The name's own entry: a link is not ours and is never read through.
    const OwnFile::Stamp there = OwnFile::stampOf(m_statePath);
    const FileStamp stamp{there.inode, there.mtimeNs, there.size};
    if (stamp == m_stamp && stamp.size >= 0)
        return;
    m_stamp = stamp;
    m_state = VirtualSMCState{};
    if (stamp.size >= 0) {
        const OwnFile::Contents file = OwnFile::read(m_statePath, kStateLimit);
        switch (file.outcome) {
        case OwnFile::Contents::Outcome::Read:
            m_state = VirtualSMCState::parse(file.bytes);
            break;
        case OwnFile::Contents::Outcome::Missing:
            break;
        case OwnFile::Contents::Outcome::Refused:
        case OwnFile::Contents::Outcome::TooLarge:
            setAside(there, file.reason, locked);
            break;
        case OwnFile::Contents::Outcome::Failed:
            // Left where it is; said once for this file.
            std::fprintf(stderr, "%s: the virtual SMC state %s %s; the simulated Mac starts afresh.\n",
                         program_invocation_short_name, m_statePath.c_str(), file.reason.c_str());
            break;
        }
    }
    ++m_stateVersion;
    const VirtualProfile* p = virtualProfile(m_state.profile);
    m_profile = p ? p : virtualProfile(kDefaultVirtualProfile);
}

// Sets aside, under the lock, what stands in the state's place, unless a writer replaced it meanwhile.
void VirtualSMC::setAside(const OwnFile::Stamp& refused, const std::string& reason, bool locked)
{
    {
        const std::lock_guard guard(g_leftMutex);
        const auto left = g_left.find(m_statePath);
        if (left != g_left.end() && left->second == refused)
            return;
    }
    int lock = -1;
    if (!locked) {
        lock = OwnFile::openLock(m_statePath + ".lock", "the virtual SMC lock");
        // A reader never waits for the lock: the next look tries again. Where no
        // lock can be made at all, nobody can write the state either.
        const bool noLockHere = lock < 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
        if ((lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) || (lock < 0 && !noLockHere)) {
            if (lock >= 0)
                ::close(lock);
            m_stamp = FileStamp{};
            return;
        }
    }
    if (OwnFile::stampOf(m_statePath) == refused) {
        if (!OwnFile::setAsideAndSay(m_statePath, "the virtual SMC state", reason, "the simulated Mac starts afresh")) {
            const std::lock_guard guard(g_leftMutex);
            g_left[m_statePath] = refused;
        }
    } else {
        m_stamp = FileStamp{};  // replaced: read the new one next time
    }
    if (lock >= 0) {
        ::flock(lock, LOCK_UN);
        ::close(lock);
    }
}

template <typename Change>
bool VirtualSMC::update(Change&& change)
{
    std::error_code error;
    const std::filesystem::path path(m_statePath);
    std::filesystem::create_directories(path.parent_path(), error);
    // Ours, never opened through a link: one planted there would have a file made where it points.
    const int lock = OwnFile::openLock(m_statePath + ".lock", "the virtual SMC lock");
    if (lock < 0)
        return false;
    bool written = false;
    if (OwnFile::lockWithin(lock, kLockWaitMs)) {
        // Re-read under the lock so that no other writer's change is lost.
        m_stamp = FileStamp{};
        reload(true);
        VirtualSMCState next = m_state;
        change(next);
        // A later file time than the last version's, so readers holding that one see the change.
        std::string reason;
        written = OwnFile::replace(m_statePath, next.serialize(), 0644, &reason, m_stamp.mtimeNs);
        m_stamp = FileStamp{};
        g_writes.fetch_add(1, std::memory_order_release);
        ::flock(lock, LOCK_UN);
    }
    ::close(lock);
    return written;
}

const VirtualProfile& VirtualSMC::profile()
{
    refresh();
    return *m_profile;
}

const VirtualKey* VirtualSMC::findKey(const std::string& key)
{
    const auto& keys = m_profile->keys;
    const auto found = std::lower_bound(keys.begin(), keys.end(), key,
                                        [](const VirtualKey& k, const std::string& name) { return k.key < name; });
    return found != keys.end() && found->key == key ? &*found : nullptr;
}

const VirtualKey* VirtualSMC::findKey(uint32_t code)
{
    // The profile's keys are four bytes each, so their codes sort as the texts do.
    if (m_codesOf != m_profile) {
        m_codesOf = m_profile;
        m_codes.clear();
        m_codes.reserve(m_profile->keys.size());
        for (const VirtualKey& key : m_profile->keys)
            m_codes.push_back(keyCode(key.key));
        m_codesUsable = std::all_of(m_profile->keys.begin(), m_profile->keys.end(),
                                    [](const VirtualKey& key) { return key.key.size() == 4; });
    }
    if (!m_codesUsable)
        return findKey(keyText(code));
    const auto found = std::lower_bound(m_codes.begin(), m_codes.end(), code);
    return found != m_codes.end() && *found == code ? &m_profile->keys[found - m_codes.begin()] : nullptr;
}

uint8_t VirtualSMC::keyInfo(uint32_t code, SMCKeyInfo& info)
{
    refresh();
    const VirtualKey* key = findKey(code);
    if (!key)
        return kSMCKeyNotFound;
    info.dataSize = key->size;
    info.dataType = keyCode(key->type);
    info.attributes = kSMCAttrRead | (key->writable ? kSMCAttrWrite : 0);
    return kSMCSuccess;
}

uint8_t VirtualSMC::readKey(uint32_t code, uint32_t dataSize, SMCBytes& out)
{
    refresh();
    const VirtualKey* key = findKey(code);
    if (!key)
        return kSMCKeyNotFound;
    if (dataSize != key->size)
        return kSMCKeySizeMismatch;
    out.fill(0);
    const auto stored = m_state.values.find(key->key);
    if (stored != m_state.values.end()) {
        std::copy_n(stored->second.begin(), std::min<size_t>(stored->second.size(), key->size), out.begin());
        return kSMCSuccess;
    }
    if (key->source == VirtualSource::FanID) {
        // {fds: type, zone, location, a reserved byte, then the name padded with spaces.
        const std::string& name = m_profile->fans.at(key->fan).name;
        out[1] = 0x12;
        for (size_t i = 0; i < 12 && 4 + i < key->size; ++i)
            out[4 + i] = i < name.size() ? static_cast<uint8_t>(name[i]) : ' ';
        return kSMCSuccess;
    }
    encodeInto(key->type, key->size, valueOf(*key), out.data());
    return kSMCSuccess;
}

uint8_t VirtualSMC::writeKey(uint32_t code, uint32_t dataSize, const SMCBytes& in)
{
    refresh();
    const VirtualKey* key = findKey(code);
    if (!key)
        return kSMCKeyNotFound;
    if (!key->writable)
        return kSMCKeyNotWritable;
    if (dataSize != key->size)
        return kSMCKeySizeMismatch;
    const std::string name = key->key;
    const int fan = key->fan;
    // The fan starts from where it is now towards its new target.
    const double from = fan >= 0 ? fanActualNow(fan) : 0;
    const double at = currentTime();
    const std::vector<uint8_t> bytes(in.begin(), in.begin() + dataSize);
    const bool ok = update([&](VirtualSMCState& s) {
        s.values[name] = bytes;
        if (fan >= 0)
            s.ramps[fan] = {at, from};
    });
    return ok ? kSMCSuccess : kSMCError;
}

double VirtualSMC::currentTime()
{
    return m_state.clock.value_or(wallClock());
}

double VirtualSMC::hostLoad()
{
    const double t = monotonic();
    if (m_hostLoadReadAt >= 0 && t - m_hostLoadReadAt < 1.0)
        return m_hostLoad;
    m_hostLoadReadAt = t;
    // The file stays open: a reading is one read from its start. Asking for
    // the processor count reads a file too, and it stays as it was at start.
    static const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
    if (m_loadAverage.fd < 0)
        m_loadAverage.fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t length = m_loadAverage.fd >= 0 ? ::pread(m_loadAverage.fd, text, sizeof text - 1, 0) : -1;
    if (length > 0) {
        text[length] = '\0';
        double average = 0;
        if (std::sscanf(text, "%lf", &average) == 1)
            m_hostLoad = std::clamp(average / cpus, 0.0, 1.0);
    } else if (m_loadAverage.fd >= 0) {
        ::close(m_loadAverage.fd);  // opened again at the next reading
        m_loadAverage.fd = -1;
    }
    return m_hostLoad;
}

double VirtualSMC::currentLoad()
{
    const auto& frozen = m_state.load;
    return frozen ? *frozen : hostLoad();
}

std::optional<double> VirtualSMC::storedValue(const std::string& name)
{
    const auto& values = m_state.values;
    const auto found = values.find(name);
    if (found == values.end())
        return std::nullopt;
    const VirtualKey* key = findKey(name);
    return key ? decodeSMCValue(key->type, found->second) : std::nullopt;
}

const std::vector<VirtualSMC::FanModel>& VirtualSMC::fanModels()
{
    const double l = currentLoad();
    if (m_fanModelsValid && m_fanModelsVersion == m_stateVersion && m_fanModelsLoad == l)
        return m_fanModels;
    const auto& fans = m_profile->fans;
    m_fanModels.assign(fans.size(), FanModel{});
    m_coolingFixed = true;
    for (size_t i = 0; i < fans.size(); ++i) {
        const int fan = static_cast<int>(i);
        const VirtualFan& f = fans[i];
        FanModel& model = m_fanModels[i];
        model.minimum = storedValue(fanKey(fan, "Mn")).value_or(f.minimum);
        std::optional<double> forced;
        if (m_profile->targetSpeedFans && storedValue(fanKey(fan, "Md")).value_or(0) == 1) {
            if (auto target = storedValue(fanKey(fan, "Tg")))
                forced = std::clamp(*target, 0.0, f.maximum);
        }
        if (forced) {
            model.target = *forced;
        } else {
            // The system's own control: faster as the load rises, never below the minimum.
            const double minimum = std::clamp(model.minimum, 0.0, f.maximum);
            const double demand = std::clamp((l - 0.35) / 0.65, 0.0, 1.0);
            model.target = minimum + (f.maximum - minimum) * demand;
        }
        model.fixedActual = storedValue(fanKey(fan, "Ac"));
        const auto ramp = m_state.ramps.find(fan);
        if (!model.fixedActual && ramp != m_state.ramps.end()) {
            model.ramp = ramp->second;
            m_coolingFixed = false;
        }
    }
    m_fanModelsVersion = m_stateVersion;
    m_fanModelsLoad = l;
    m_fanModelsValid = true;
    if (m_coolingFixed && !fans.empty())
        m_cooling = coolingOf(m_fanModels);
    return m_fanModels;
}

double VirtualSMC::actualOf(const FanModel& model)
{
    if (model.fixedActual)
        return *model.fixedActual;
    if (!model.ramp)
        return model.target;
    const double elapsed = std::max(0.0, currentTime() - model.ramp->since);
    return model.target + (model.ramp->from - model.target) * std::exp(-elapsed / kFanRampSeconds);
}

double VirtualSMC::fanActualNow(int fan)
{
    return actualOf(fanModels().at(fan));
}

double VirtualSMC::coolingOf(const std::vector<FanModel>& models)
{
    const auto& fans = m_profile->fans;
    double sum = 0;
    for (size_t i = 0; i < fans.size(); ++i) {
        const double span = fans[i].maximum - fans[i].minimum;
        sum += span > 0 ? std::clamp((actualOf(models[i]) - fans[i].minimum) / span, 0.0, 1.0) : 0;
    }
    return sum / static_cast<double>(fans.size());
}

double VirtualSMC::temperatureCooling()
{
    if (m_profile->fans.empty())
        return 0;
    const auto& models = fanModels();
    // Without a ramp nothing here moves with the clock: one sum serves every key.
    return m_coolingFixed ? m_cooling : coolingOf(models);
}

double VirtualSMC::valueOf(const VirtualKey& key)
{
    const double l = currentLoad();
    switch (key.source) {
    case VirtualSource::Temperature: {
        // A slow wobble keeps the graphs alive; its phase differs per key.
        const double phase = static_cast<double>(keyCode(key.key) % 97);
        const double wobble = 0.4 * std::sin(currentTime() / 23.0 + phase);
        return m_profile->ambient + key.base + key.loadGain * l - key.cooling * temperatureCooling() + wobble;
    }
    case VirtualSource::Voltage:
    case VirtualSource::Current:
    case VirtualSource::Power:
        return key.base + key.loadGain * l;
    case VirtualSource::Zero:
    case VirtualSource::FanID:
        return 0;
    case VirtualSource::FanCount:
        return static_cast<double>(m_profile->fans.size());
    case VirtualSource::FanActual:
        return fanActualNow(key.fan);
    case VirtualSource::FanMinimum:
        return fanModels().at(key.fan).minimum;
    case VirtualSource::FanMaximum:
        return m_profile->fans.at(key.fan).maximum;
    case VirtualSource::FanTarget:
        return fanModels().at(key.fan).target;
    case VirtualSource::FanMode:
        return 0;
    }
    return 0;
}

double VirtualSMC::now()
{
    refresh();
    return currentTime();
}

double VirtualSMC::load()
{
    refresh();
    return currentLoad();
}

double VirtualSMC::fanMinimum(int fan)
{
    refresh();
    return fanModels().at(fan).minimum;
}

double VirtualSMC::fanTarget(int fan)
{
    refresh();
    return fanModels().at(fan).target;
}

double VirtualSMC::fanActual(int fan)
{
    refresh();
    return fanActualNow(fan);
}

bool VirtualSMC::setProfile(const std::string& model)
{
    if (!virtualProfile(model))
        return false;
    return update([&](VirtualSMCState& s) {
        s.profile = model;
        s.values.clear();
        s.ramps.clear();
    });
}

bool VirtualSMC::freezeClock(std::optional<double> secondsSince1970)
{
    return update([&](VirtualSMCState& s) { s.clock = secondsSince1970; });
}

bool VirtualSMC::setLoad(std::optional<double> value)
{
    return update([&](VirtualSMCState& s) {
        s.load = value ? std::optional(std::clamp(*value, 0.0, 1.0)) : std::nullopt;
    });
}

bool VirtualSMC::setPowerSourceState(std::optional<unsigned> state)
{
    if (state && *state > 3)
        return false;
    return update([&](VirtualSMCState& s) { s.power = state; });
}

std::optional<unsigned> VirtualSMC::powerSourceState()
{
    refresh();
    return m_state.power;
}

bool VirtualSMC::setAdministrator(std::optional<std::pair<std::string, std::string>> account)
{
    const auto plain = [](const std::string& name) {
        return !name.empty() && std::none_of(name.begin(), name.end(), [](unsigned char c) { return std::isspace(c) || c < 0x20; });
    };
    if (account && !(plain(account->first) && plain(account->second)))
        return false;
    return update([&](VirtualSMCState& s) { s.administrator = account; });
}

std::optional<std::pair<std::string, std::string>> VirtualSMC::administrator()
{
    refresh();
    return m_state.administrator;
}

bool VirtualSMC::setKeyBytes(const std::string& key, const std::vector<uint8_t>& bytes)
{
    if (key.size() != 4 || bytes.size() > 32)
        return false;
    return update([&](VirtualSMCState& s) { s.values[key] = bytes; });
}

bool VirtualSMC::setKeyValue(const std::string& name, double value)
{
    refresh();
    const VirtualKey* key = findKey(name);
    return key && setKeyBytes(name, encodeSMCValue(key->type, key->size, value));
}

bool VirtualSMC::clearKey(const std::string& key)
{
    return update([&](VirtualSMCState& s) { s.values.erase(key); });
}

bool VirtualSMC::reset()
{
    return update([](VirtualSMCState& s) { s = VirtualSMCState{}; });
}

}  // namespace smc
