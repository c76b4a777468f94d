#pragma once
// A simulated Mac SMC. Its profile says which keys exist; its writable state
// (fan modes, targets and minimums, frozen time and values) lives in one small
// file in the user's home, so every process and the SMC tool see the same fans.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

#include "OwnFile.h"
#include "SMCBackend.h"

namespace smc {

enum class VirtualSource {
    Temperature,
    Voltage,
    Current,
    Power,
    Zero,        // present, but the sensor is not fitted: reads 0
    FanCount,
    FanActual,
    FanMinimum,
    FanMaximum,
    FanTarget,
    FanMode,
    FanID,
};

struct VirtualKey {
    std::string key;
    std::string type;
    uint32_t size = 0;
    VirtualSource source = VirtualSource::Zero;
    double base = 0;       // offset above ambient, or the value at no load
    double loadGain = 0;   // added at full load
    double cooling = 0;    // removed when the fans run at their maximum
    int fan = -1;
    bool writable = false;
};

struct VirtualFan {
    std::string name;
    double minimum = 0;
    double maximum = 0;
};

struct VirtualProfile {
    std::string model;
    bool targetSpeedFans = false;  // fans driven through mode and target keys
    double ambient = 30;
    std::vector<VirtualFan> fans;
    std::vector<VirtualKey> keys;  // sorted by key
};

inline constexpr const char* kDefaultVirtualProfile = "MacBookPro15,1";
const VirtualProfile* virtualProfile(const std::string& model);
std::vector<std::string> virtualProfileNames();

struct VirtualSMCState {
    struct Ramp {
        double since = 0;
        double from = 0;
    };
    std::string profile = kDefaultVirtualProfile;
    std::optional<double> clock;  // frozen time, seconds since 1970
    std::optional<double> load;   // frozen CPU load, 0..1
    std::optional<unsigned> power;  // declared power-source state, 0..3
    std::optional<std::pair<std::string, std::string>> administrator;  // user and group
    std::map<std::string, std::vector<uint8_t>> values;  // written or fixed key bytes
    std::map<int, Ramp> ramps;    // where each fan's speed was when its target last changed

    std::string serialize() const;
    static VirtualSMCState parse(const std::string& text);
};

// Bytes of a value in an SMC data type (big-endian fixed point, "flt " in host order).
std::vector<uint8_t> encodeSMCValue(const std::string& type, uint32_t size, double value);
std::optional<double> decodeSMCValue(const std::string& type, const std::vector<uint8_t>& bytes);

class VirtualSMC : public SMCBackend {
public:
    explicit VirtualSMC(std::string statePath = defaultStatePath());
    static std::string defaultStatePath();

    uint8_t keyInfo(uint32_t key, SMCKeyInfo& info) override;
    uint8_t readKey(uint32_t key, uint32_t dataSize, SMCBytes& out) override;
    uint8_t writeKey(uint32_t key, uint32_t dataSize, const SMCBytes& in) override;

    const std::string& statePath() const { return m_statePath; }
    const VirtualProfile& profile();
    std::string modelIdentifier() { return profile().model; }

    // Readings in the SMC's units, as the model computes them now.
    double now();
    double load();
    double fanMinimum(int fan);
    double fanTarget(int fan);
    double fanActual(int fan);

    // Changes to the shared state; each is one locked read-modify-write of the file.
    bool setProfile(const std::string& model);
    bool freezeClock(std::optional<double> secondsSince1970);
    bool setLoad(std::optional<double> load);
    // A power-source state (0 none, 1 AC charging, 2 battery, 3 AC not charging)
    // the simulated Mac reports instead of the host's; values above 3 are refused.
    bool setPowerSourceState(std::optional<unsigned> state);
    std::optional<unsigned> powerSourceState();
    // The account (user, group) that administers the simulated Mac, when it is
    // not root and the administrators' group: a tool it owns with the installed
    // permissions counts as installed there. The tool keeps no rights on a
    // simulated Mac anyway, so tests can stand in for the administrator as any
    // user. Names with white space are refused.
    bool setAdministrator(std::optional<std::pair<std::string, std::string>> account);
    std::optional<std::pair<std::string, std::string>> administrator();
    bool setKeyBytes(const std::string& key, const std::vector<uint8_t>& bytes);
    bool setKeyValue(const std::string& key, double value);
    bool clearKey(const std::string& key);
    bool reset();

private:
    // Re-reads the state file when it changed. Reads that follow one another
    // closely (one poll's keys) share one look at the file; a read after a
    // pause, or after a write by any VirtualSMC of this process, looks again.
    void refresh();
    // Reads the state anew when the file changed; anything but a regular file
    // of a sensible size is set aside (under the lock, which `locked` says is held),
    // or, where that cannot be done, said once per process and left alone.
    void reload(bool locked = false);
    void setAside(const OwnFile::Stamp& refused, const std::string& reason, bool locked);
    double currentTime();
    double currentLoad();
    double fanActualNow(int fan);
    template <typename Change>
    bool update(Change&& change);
    const VirtualKey* findKey(const std::string& key);
    const VirtualKey* findKey(uint32_t code);
    double valueOf(const VirtualKey& key);
    std::optional<double> storedValue(const std::string& key);
    double temperatureCooling();
    double hostLoad();
    // What each fan's keys give for the state and load in force; the ramp
    // towards the target is the only part that moves with the clock.
    struct FanModel {
        std::optional<double> fixedActual;
        double minimum = 0;
        double target = 0;
        std::optional<VirtualSMCState::Ramp> ramp;
    };
    const std::vector<FanModel>& fanModels();
    double actualOf(const FanModel& model);
    double coolingOf(const std::vector<FanModel>& models);

    std::string m_statePath;
    VirtualSMCState m_state;
    const VirtualProfile* m_profile = nullptr;
    struct FileStamp {
        ino_t inode = 0;
        long long mtimeNs = -1;
        long long size = -1;
        bool operator==(const FileStamp&) const = default;
    } m_stamp;
    double m_hostLoad = 0;
    double m_hostLoadReadAt = -1;
    // The host's load average file, open once read; a copy opens its own.
    struct OpenFile {
        int fd = -1;
        OpenFile() = default;
        OpenFile(const OpenFile&) {}
        OpenFile& operator=(const OpenFile&) { return *this; }
        ~OpenFile();
    } m_loadAverage;
    // When the stamp was last looked at and the last read, on the monotonic
    // clock (ns), and the count of this process's writes seen then.
    long long m_checkedAt = 0;
    long long m_readAt = 0;
    uint64_t m_writesSeen = 0;
    bool m_checked = false;
    // Bumped whenever m_state is read anew, so the fan models follow it.
    uint64_t m_stateVersion = 0;
    std::vector<FanModel> m_fanModels;
    uint64_t m_fanModelsVersion = 0;
    double m_fanModelsLoad = 0;
    bool m_fanModelsValid = false;
    double m_cooling = 0;  // for the fan models, when no fan ramps
    bool m_coolingFixed = false;
    // The codes of m_codesOf's keys, in the keys' order.
    const VirtualProfile* m_codesOf = nullptr;
    std::vector<uint32_t> m_codes;
    bool m_codesUsable = false;
};

}  // namespace smc
