// The capabilities the agent asks the VM for, and nothing more: the owned
// monitors and their usage at a notify, the locals of advice and start frames,
// and method entry and exit events.
#pragma once

#include <cstring>

#include <jvmti.h>

inline jvmtiCapabilities agentCapabilities() {
    jvmtiCapabilities capabilities;
    std::memset(&capabilities, 0, sizeof capabilities);
    capabilities.can_get_owned_monitor_info = 1;
    capabilities.can_get_monitor_info = 1;
    capabilities.can_access_local_variables = 1;
    capabilities.can_generate_method_entry_events = 1;
    capabilities.can_generate_method_exit_events = 1;
    return capabilities;
}
