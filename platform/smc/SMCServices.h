#pragma once
#include <functional>
#include <memory>

#include "SMCBackend.h"

namespace smc {

// Where the kernel driver puts the SMC's attributes on an Intel Mac.
inline constexpr const char* kApplesmcDevicePath = "/sys/devices/platform/applesmc.768";

// The SMC behind the "AppleSMC" service: the applesmc driver when its device
// exists, otherwise the virtual SMC of the user's home.
std::shared_ptr<SMCBackend> defaultAppleSMC();

// Tests put their own SMC (or none: a provider returning null) behind the
// service; an empty provider restores the default.
using ServiceProvider = std::function<std::shared_ptr<SMCBackend>()>;
void setServiceProviderForTesting(ServiceProvider provider);

}  // namespace smc
