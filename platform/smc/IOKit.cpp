#include "IOKit.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "ApplesmcBackend.h"
#include "SMCServices.h"
#include "VirtualSMC.h"

struct IOMatchingDictionary {
    std::string serviceClass;
};

namespace smc {

uint32_t keyCode(const std::string& key)
{
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
        const auto c = i < static_cast<int>(key.size()) ? static_cast<uint8_t>(key[i]) : 0;
        code |= static_cast<uint32_t>(c) << (24 - 8 * i);
    }
    return code;
}

std::string keyText(uint32_t code)
{
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

namespace {

struct Iterator {
    std::vector<std::shared_ptr<SMCBackend>> services;
    size_t next = 0;
};
struct Service {
    std::shared_ptr<SMCBackend> backend;
};
struct Connection {
    std::shared_ptr<SMCBackend> backend;
};
using Object = std::variant<Iterator, Service, Connection>;

struct Registry {
    std::mutex mutex;
    std::unordered_map<io_object_t, Object> objects;
    io_object_t nextHandle = 0x1000;
    ServiceProvider provider;

    io_object_t add(Object object)
    {
        const io_object_t handle = nextHandle++;
        objects.emplace(handle, std::move(object));
        return handle;
    }
};

Registry& registry()
{
    static Registry r;
    return r;
}

// Offsets of the 80-byte record the AppleSMC user client exchanges.
constexpr size_t kRecordSize = 80;
constexpr size_t kKeyOffset = 0;
constexpr size_t kDataSizeOffset = 28;
constexpr size_t kDataTypeOffset = 32;
constexpr size_t kAttributesOffset = 36;
constexpr size_t kResultOffset = 40;
constexpr size_t kCommandOffset = 42;
constexpr size_t kBytesOffset = 48;

constexpr uint8_t kCommandReadBytes = 5;
constexpr uint8_t kCommandWriteBytes = 6;
constexpr uint8_t kCommandKeyInfo = 9;

uint32_t load32(const uint8_t* record, size_t offset)
{
    uint32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

void store32(uint8_t* record, size_t offset, uint32_t value)
{
    std::memcpy(record + offset, &value, sizeof value);
}

void callUserClient(SMCBackend& backend, const uint8_t* in, uint8_t* out)
{
    std::memset(out, 0, kRecordSize);
    const uint32_t key = load32(in, kKeyOffset);
    store32(out, kKeyOffset, key);
    uint8_t result = kSMCBadCommand;
    switch (in[kCommandOffset]) {
    case kCommandKeyInfo: {
        SMCKeyInfo info;
        result = backend.keyInfo(key, info);
        store32(out, kDataSizeOffset, info.dataSize);
        store32(out, kDataTypeOffset, info.dataType);
        out[kAttributesOffset] = info.attributes;
        break;
    }
    case kCommandReadBytes: {
        SMCBytes bytes{};
        const uint32_t size = load32(in, kDataSizeOffset);
        result = size > bytes.size() ? uint8_t(kSMCBadParameter) : backend.readKey(key, size, bytes);
        if (result == kSMCSuccess)
            std::memcpy(out + kBytesOffset, bytes.data(), bytes.size());
        break;
    }
    case kCommandWriteBytes: {
        SMCBytes bytes{};
        std::memcpy(bytes.data(), in + kBytesOffset, bytes.size());
        const uint32_t size = load32(in, kDataSizeOffset);
        result = size > bytes.size() ? uint8_t(kSMCBadParameter) : backend.writeKey(key, size, bytes);
        break;
    }
    default:
        break;
    }
    out[kResultOffset] = result;
}

}  // namespace

std::shared_ptr<SMCBackend> defaultAppleSMC()
{
    if (ApplesmcBackend::isPresent(kApplesmcDevicePath))
        return std::make_shared<ApplesmcBackend>(kApplesmcDevicePath);
    return std::make_shared<VirtualSMC>();
}

void setServiceProviderForTesting(ServiceProvider provider)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.provider = std::move(provider);
}

}  // namespace smc

using namespace smc;

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort)
{
    if (masterPort)
        *masterPort = 1;
    return KERN_SUCCESS;
}

mach_port_t mach_task_self()
{
    return 1;
}

CFMutableDictionaryRef IOServiceMatching(const char* name)
{
    return name ? new IOMatchingDictionary{name} : nullptr;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t* existing)
{
    if (!matching || !existing) {
        delete matching;
        return kIOReturnBadArgument;
    }
    const bool wantsSMC = matching->serviceClass == "AppleSMC";
    delete matching;

    auto& r = registry();
    std::unique_lock lock(r.mutex);
    ServiceProvider provider = r.provider;
    lock.unlock();

    Iterator iterator;
    if (wantsSMC) {
        auto backend = provider ? provider() : defaultAppleSMC();
        if (backend)
            iterator.services.push_back(std::move(backend));
    }
    lock.lock();
    *existing = r.add(std::move(iterator));
    return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t handle)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.objects.find(handle);
    if (found == r.objects.end())
        return IO_OBJECT_NULL;
    auto* iterator = std::get_if<Iterator>(&found->second);
    if (!iterator || iterator->next >= iterator->services.size())
        return IO_OBJECT_NULL;
    return r.add(Service{iterator->services[iterator->next++]});
}

kern_return_t IOObjectRelease(io_object_t object)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.objects.erase(object) ? KERN_SUCCESS : kIOReturnBadArgument;
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t, uint32_t, io_connect_t* connect)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.objects.find(service);
    if (!connect || found == r.objects.end())
        return kIOReturnBadArgument;
    auto* s = std::get_if<Service>(&found->second);
    if (!s)
        return kIOReturnBadArgument;
    *connect = r.add(Connection{s->backend});
    return KERN_SUCCESS;
}

kern_return_t IOServiceClose(io_connect_t connect)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.objects.find(connect);
    if (found == r.objects.end() || !std::holds_alternative<Connection>(found->second))
        return kIOReturnBadArgument;
    r.objects.erase(found);
    return KERN_SUCCESS;
}

kern_return_t IOConnectCallStructMethod(io_connect_t connection, uint32_t selector, const void* inputStruct,
                                        size_t inputStructCnt, void* outputStruct, size_t* outputStructCnt)
{
    std::shared_ptr<SMCBackend> backend;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        const auto found = r.objects.find(connection);
        if (found == r.objects.end() || !std::holds_alternative<Connection>(found->second))
            return MACH_SEND_INVALID_DEST;
        backend = std::get<Connection>(found->second).backend;
    }
    if (selector != 2)
        return kIOReturnUnsupported;
    if (!inputStruct || !outputStruct || !outputStructCnt || inputStructCnt != kRecordSize ||
        *outputStructCnt < kRecordSize)
        return kIOReturnBadArgument;
    callUserClient(*backend, static_cast<const uint8_t*>(inputStruct), static_cast<uint8_t*>(outputStruct));
    *outputStructCnt = kRecordSize;
    return kIOReturnSuccess;
}
