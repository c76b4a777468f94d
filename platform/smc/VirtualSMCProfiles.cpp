// The simulated Macs. Each lists the keys its SMC answers; keys in the key
// table that a profile does not list read as absent, as on a real machine.
#include <algorithm>
#include <cstdio>

#include "VirtualSMC.h"

namespace smc {

namespace {

const char kFanDigits[] = "0123456789ABCDEFGHIJ";

struct ProfileBuilder {
    VirtualProfile p;

    ProfileBuilder& temp(const char* key, const char* type, double base, double loadGain, double cooling)
    {
        p.keys.push_back({key, type, type[0] == 'f' && type[1] == 'l' ? 4u : 2u, VirtualSource::Temperature, base,
                          loadGain, cooling});
        return *this;
    }
    ProfileBuilder& reading(VirtualSource source, const char* key, const char* type, double base, double loadGain)
    {
        p.keys.push_back({key, type, std::string(type) == "flt " ? 4u : 2u, source, base, loadGain});
        return *this;
    }
    ProfileBuilder& unfitted(const char* key, const char* type)
    {
        p.keys.push_back({key, type, std::string(type) == "flt " ? 4u : 2u, VirtualSource::Zero});
        return *this;
    }
    ProfileBuilder& fans(const char* speedType, uint32_t speedSize, bool modeKeys)
    {
        p.keys.push_back({"FNum", "ui8 ", 1, VirtualSource::FanCount});
        for (size_t i = 0; i < p.fans.size(); ++i) {
            const int fan = static_cast<int>(i);
            auto key = [&](const char* pattern) {
                char k[5];
                std::snprintf(k, sizeof k, pattern, kFanDigits[fan]);
                return std::string(k);
            };
            p.keys.push_back({key("F%cAc"), speedType, speedSize, VirtualSource::FanActual, 0, 0, 0, fan});
            p.keys.push_back({key("F%cID"), "{fds", 16, VirtualSource::FanID, 0, 0, 0, fan});
            p.keys.push_back({key("F%cMn"), speedType, speedSize, VirtualSource::FanMinimum, 0, 0, 0, fan, true});
            p.keys.push_back({key("F%cMx"), speedType, speedSize, VirtualSource::FanMaximum, 0, 0, 0, fan});
            p.keys.push_back({key("F%cTg"), speedType, speedSize, VirtualSource::FanTarget, 0, 0, 0, fan, modeKeys});
            if (modeKeys)
                p.keys.push_back({key("F%cMd"), "ui8 ", 1, VirtualSource::FanMode, 0, 0, 0, fan, true});
        }
        return *this;
    }
    VirtualProfile build()
    {
        std::sort(p.keys.begin(), p.keys.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
        return p;
    }
};

VirtualProfile macBookPro15_1()
{
    ProfileBuilder b;
    b.p.model = "MacBookPro15,1";
    b.p.targetSpeedFans = true;
    b.p.ambient = 30;
    b.p.fans = {{"Left Side", 2160, 5927}, {"Right Side", 2000, 6448}};
    b.temp("TC0P", "sp78", 15, 40, 12)
        .temp("TC0E", "sp78", 20, 50, 14)
        .temp("TC0F", "sp78", 19, 48, 14)
        .temp("TCXC", "flt ", 21, 55, 15)
        .temp("TC1C", "sp78", 19, 52, 14)
        .temp("TC2C", "sp78", 20, 53, 14)
        .temp("TC3C", "sp78", 18.5, 51, 14)
        .temp("TC4C", "sp78", 19.5, 52, 14)
        .temp("TC5C", "sp78", 20.5, 54, 14)
        .temp("TC6C", "sp78", 18, 50, 14)
        .temp("TCGC", "sp78", 14, 30, 10)
        .temp("TG0P", "sp78", 10, 25, 8)
        .temp("TGDD", "flt ", 12, 30, 10)
        .temp("TM0P", "sp78", 8, 12, 5)
        .temp("TPCD", "flt ", 14, 10, 4)
        .temp("TW0P", "sp78", 6, 3, 2)
        .temp("TH0a", "sp78", 9, 6, 2)
        .temp("TH0b", "sp78", 8, 6, 2)
        .temp("TB0T", "sp78", 2, 4, 1)
        .temp("TB1T", "sp78", 1.5, 4, 1)
        .temp("TB2T", "sp78", 1.8, 4, 1)
        .temp("Ts0P", "sp78", -2, 5, 1)
        .temp("TI0P", "sp78", 5, 4, 1)
        .temp("TI1P", "sp78", 5.5, 4, 1)
        .unfitted("TL0P", "sp78")
        .reading(VirtualSource::Voltage, "VC0C", "flt ", 0.75, 0.35)
        .reading(VirtualSource::Voltage, "VG0C", "flt ", 0.85, 0.15)
        .reading(VirtualSource::Voltage, "VM0R", "flt ", 1.2, 0)
        .reading(VirtualSource::Voltage, "VD0R", "flt ", 20.1, -0.2)
        .reading(VirtualSource::Voltage, "VP0R", "flt ", 12.3, -0.1)
        .reading(VirtualSource::Voltage, "VBAT", "flt ", 12.6, 0)
        .reading(VirtualSource::Current, "IC0C", "flt ", 1.5, 18)
        .reading(VirtualSource::Current, "IG0C", "flt ", 0.4, 3)
        .reading(VirtualSource::Current, "IM0R", "flt ", 0.6, 0.8)
        .reading(VirtualSource::Current, "ID0R", "flt ", 1.2, 3.5)
        .unfitted("IB0R", "flt ")
        .reading(VirtualSource::Power, "PC0C", "flt ", 4, 28)
        .reading(VirtualSource::Power, "PCPC", "flt ", 6, 39)
        .reading(VirtualSource::Power, "PCPG", "flt ", 0.5, 4)
        .reading(VirtualSource::Power, "PG0R", "flt ", 3, 25)
        .reading(VirtualSource::Power, "PM0R", "flt ", 0.8, 1.2)
        .reading(VirtualSource::Power, "PDTR", "flt ", 22, 60)
        .reading(VirtualSource::Power, "PSTR", "flt ", 14, 55)
        .fans("flt ", 4, true);
    return b.build();
}

VirtualProfile macBookPro11_3()
{
    ProfileBuilder b;
    b.p.model = "MacBookPro11,3";
    b.p.targetSpeedFans = false;
    b.p.ambient = 28;
    b.p.fans = {{"Left Side", 2000, 6000}, {"Right Side", 2000, 6000}};
    b.temp("TC0P", "sp78", 14, 42, 12)
        .temp("TC0D", "sp78", 22, 55, 15)
        .temp("TC0E", "sp78", 21, 52, 14)
        .temp("TC0F", "sp78", 20, 50, 14)
        .temp("TC1C", "sp78", 20, 53, 14)
        .temp("TC2C", "sp78", 21, 54, 14)
        .temp("TC3C", "sp78", 19.5, 52, 14)
        .temp("TC4C", "sp78", 20.5, 53, 14)
        .temp("TCGC", "sp78", 15, 32, 10)
        .temp("TG0P", "sp78", 11, 28, 8)
        .temp("TG0D", "sp78", 16, 38, 10)
        .temp("TG0H", "sp78", 12, 30, 9)
        .temp("TM0P", "sp78", 9, 12, 5)
        .temp("TM0S", "sp78", 8, 10, 4)
        .temp("Tm0P", "sp78", 10, 12, 5)
        .temp("TPCD", "sp78", 16, 10, 4)
        .temp("TW0P", "sp78", 7, 3, 2)
        .temp("TB0T", "sp78", 2, 4, 1)
        .temp("TB1T", "sp78", 1.5, 4, 1)
        .temp("TB2T", "sp78", 1.8, 4, 1)
        .temp("Ts0P", "sp78", -1, 5, 1)
        .temp("Ts1P", "sp78", -1.5, 5, 1)
        .unfitted("TL0P", "sp78")
        .reading(VirtualSource::Voltage, "VC0C", "sp4b", 0.8, 0.3)
        .reading(VirtualSource::Voltage, "VD0R", "fp6a", 16.5, -0.2)
        .reading(VirtualSource::Voltage, "VP0R", "sp4b", 12.2, -0.1)
        .reading(VirtualSource::Current, "IC0C", "sp5a", 1.2, 16)
        .reading(VirtualSource::Current, "ID0R", "sp5a", 1.0, 3.2)
        .reading(VirtualSource::Power, "PC0C", "sp96", 3.5, 26)
        .reading(VirtualSource::Power, "PCPC", "sp96", 5, 37)
        .reading(VirtualSource::Power, "PDTR", "sp96", 18, 55)
        .fans("fpe2", 2, false);
    b.p.keys.push_back({"FS! ", "ui16", 2, VirtualSource::Zero, 0, 0, 0, -1, true});
    return b.build();
}

const std::vector<VirtualProfile>& profiles()
{
    static const std::vector<VirtualProfile> all{macBookPro15_1(), macBookPro11_3()};
    return all;
}

}  // namespace

const VirtualProfile* virtualProfile(const std::string& model)
{
    for (const auto& p : profiles()) {
        if (p.model == model)
            return &p;
    }
    return nullptr;
}

std::vector<std::string> virtualProfileNames()
{
    std::vector<std::string> names;
    for (const auto& p : profiles())
        names.push_back(p.model);
    return names;
}

}  // namespace smc
