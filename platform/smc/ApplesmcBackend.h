#pragma once
// The SMC of an Intel Mac running Linux, through the applesmc driver's sysfs
// attributes. With write access to "key_at_index" (root) every key is read by
// its index; otherwise the keys the driver exposes as hwmon attributes (temp*,
// fan*) are offered under their SMC names. Writes go to the fan attributes.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "SMCBackend.h"

namespace smc {

// Attribute files of one sysfs device folder.
class SysfsDevice {
public:
    explicit SysfsDevice(std::string directory);
    virtual ~SysfsDevice() = default;
    virtual std::optional<std::string> read(const std::string& attribute);
    virtual bool write(const std::string& attribute, const std::string& value);
    virtual bool canWrite(const std::string& attribute);
    const std::string& directory() const { return m_directory; }

private:
    std::string m_directory;
};

class ApplesmcBackend : public SMCBackend {
public:
    explicit ApplesmcBackend(const std::string& devicePath);
    explicit ApplesmcBackend(std::unique_ptr<SysfsDevice> device);
    static bool isPresent(const std::string& devicePath);

    uint8_t keyInfo(uint32_t key, SMCKeyInfo& info) override;
    uint8_t readKey(uint32_t key, uint32_t dataSize, SMCBytes& out) override;
    uint8_t writeKey(uint32_t key, uint32_t dataSize, const SMCBytes& in) override;

    // True when keys are read by index; false when only the hwmon attributes are used.
    bool readsByIndex();

private:
    struct Entry {
        int index = -1;          // position in the driver's sorted key list, or -1
        std::string attribute;   // hwmon attribute backing the key, when read that way
        SMCKeyInfo info;
    };
    // These expect m_mutex held. Results are SMC result bytes; kSMCError means
    // sysfs failed, which is not cached so a later call may succeed.
    uint8_t entry(uint32_t key, const Entry*& found);
    uint8_t findIndex(uint32_t key, int& index);
    std::optional<Entry> entryByIndex(int index);
    std::optional<Entry> entryByAttribute(const std::string& key);
    std::optional<std::string> readAtIndex(int index, const char* attribute);
    std::optional<uint32_t> nameAt(int index);
    bool byIndex();
    int keyCount();
    int fanCount();
    bool fanWritable(const std::string& key);

    std::unique_ptr<SysfsDevice> m_device;
    std::mutex m_mutex;
    std::optional<bool> m_byIndex;
    std::optional<int> m_keyCount;
    std::optional<int> m_fanCount;
    std::map<int, uint32_t> m_names;  // index -> key code, read while searching
    std::optional<std::map<std::string, std::string>> m_temperatures;  // label -> tempN_input
    std::map<uint32_t, std::optional<Entry>> m_entries;
};

}  // namespace smc
