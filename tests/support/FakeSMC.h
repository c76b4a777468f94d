#pragma once
// An SMC with keys set by the test, counting what the user client asks of it.
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SMCBackend.h"
#include "SMCServices.h"
#include "smc.h"

class FakeSMC : public smc::SMCBackend {
public:
    struct Key {
        std::string type;
        std::vector<uint8_t> bytes;
    };
    struct Call {
        uint8_t command;
        uint32_t key;
        uint32_t dataSize;
    };

    void set(const std::string& key, const std::string& type, std::vector<uint8_t> bytes)
    {
        keys[smc::keyCode(key)] = {type, std::move(bytes)};
    }

    uint8_t keyInfo(uint32_t key, smc::SMCKeyInfo& info) override
    {
        calls.push_back({9, key, 0});
        const auto found = keys.find(key);
        if (found == keys.end())
            return smc::kSMCKeyNotFound;
        info.dataSize = static_cast<uint32_t>(found->second.bytes.size());
        info.dataType = smc::keyCode(found->second.type);
        info.attributes = smc::kSMCAttrRead | smc::kSMCAttrWrite;
        return smc::kSMCSuccess;
    }
    uint8_t readKey(uint32_t key, uint32_t dataSize, smc::SMCBytes& out) override
    {
        calls.push_back({5, key, dataSize});
        const auto found = keys.find(key);
        if (found == keys.end())
            return smc::kSMCKeyNotFound;
        std::copy(found->second.bytes.begin(), found->second.bytes.end(), out.begin());
        return smc::kSMCSuccess;
    }
    uint8_t writeKey(uint32_t key, uint32_t dataSize, const smc::SMCBytes& in) override
    {
        calls.push_back({6, key, dataSize});
        auto found = keys.find(key);
        if (found == keys.end())
            return smc::kSMCKeyNotFound;
        found->second.bytes.assign(in.begin(), in.begin() + dataSize);
        return smc::kSMCSuccess;
    }

    int count(uint8_t command) const
    {
        int n = 0;
        for (const Call& c : calls)
            n += c.command == command;
        return n;
    }

    // Puts this SMC (or, with null, no SMC at all) behind the "AppleSMC" service.
    static void install(const std::shared_ptr<FakeSMC>& smc)
    {
        smc::setServiceProviderForTesting([smc]() -> std::shared_ptr<smc::SMCBackend> { return smc; });
    }

    std::map<uint32_t, Key> keys;
    std::vector<Call> calls;
};

// A test whose process-wide SMC connection goes to a fresh FakeSMC.
class FakeSMCTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        smcResetForTesting();
        fake = std::make_shared<FakeSMC>();
        FakeSMC::install(fake);
    }
    void TearDown() override
    {
        smcResetForTesting();
        smc::setServiceProviderForTesting({});
    }
    std::shared_ptr<FakeSMC> fake;
};
