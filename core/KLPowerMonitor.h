#pragma once
// Whether the machine runs on AC power (charging or not) or on its battery.
#include <atomic>

enum KLPowerSourceState : unsigned {
    KLPowerSourceStateNone = 0,  // no power source, or one not recognised
    KLPowerSourceStateACCharging = 1,
    KLPowerSourceStateBattery = 2,
    KLPowerSourceStateACNotCharging = 3,
};

class KLPowerMonitor {
public:
    static KLPowerMonitor& sharedInstance();
    KLPowerMonitor() = default;
    KLPowerMonitor(const KLPowerMonitor&) = delete;
    KLPowerMonitor& operator=(const KLPowerMonitor&) = delete;

    // Read afresh on every call: the simulated Mac's declared state when the
    // virtual SMC stands in for the machine, otherwise the kernel's power supplies.
    unsigned powerSourceState() const;
    // Kept, never read: the getter always computes the state.
    void setPowerSourceState(unsigned state) { m_powerSourceState = state; }

private:
    std::atomic<unsigned> m_powerSourceState{KLPowerSourceStateNone};
};
