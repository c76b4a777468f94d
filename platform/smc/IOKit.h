#pragma once
// The IOKit calls the SMC code makes, with their IOKit shapes. Behind them a
// small service registry hands out the "AppleSMC" service: the Linux applesmc
// driver when present, otherwise the virtual SMC.
#include <cstddef>
#include <cstdint>

using kern_return_t = int32_t;
using mach_port_t = uint32_t;
using task_port_t = mach_port_t;
using io_object_t = uint32_t;
using io_iterator_t = io_object_t;
using io_service_t = io_object_t;
using io_connect_t = io_object_t;

constexpr kern_return_t KERN_SUCCESS = 0;
constexpr kern_return_t kIOReturnSuccess = 0;
constexpr kern_return_t kIOReturnError = static_cast<kern_return_t>(0xE00002BC);
// The SMC code reports a write of the wrong size with this code.
constexpr kern_return_t kIOReturnBadArgument = static_cast<kern_return_t>(0xE00002BC);
constexpr kern_return_t kIOReturnNoDevice = static_cast<kern_return_t>(0xE00002C0);
constexpr kern_return_t kIOReturnUnsupported = static_cast<kern_return_t>(0xE00002C7);
constexpr kern_return_t kIOReturnNotOpen = static_cast<kern_return_t>(0xE00002CD);
constexpr kern_return_t MACH_SEND_INVALID_DEST = 0x10000003;
constexpr mach_port_t MACH_PORT_NULL = 0;
constexpr io_object_t IO_OBJECT_NULL = 0;

struct IOMatchingDictionary;
using CFMutableDictionaryRef = IOMatchingDictionary*;
using CFDictionaryRef = IOMatchingDictionary*;

// On Linux there is no master port; any bootstrap port gives port 1.
kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
mach_port_t mach_task_self();

// A matching dictionary for the service class; consumed by
// IOServiceGetMatchingServices as in IOKit.
CFMutableDictionaryRef IOServiceMatching(const char* name);
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing);
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRelease(io_object_t object);

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type,
                            io_connect_t* connect);
kern_return_t IOServiceClose(io_connect_t connect);

// The AppleSMC user client takes selector 2 with an 80-byte record in and out.
kern_return_t IOConnectCallStructMethod(io_connect_t connection, uint32_t selector,
                                        const void* inputStruct, size_t inputStructCnt,
                                        void* outputStruct, size_t* outputStructCnt);
