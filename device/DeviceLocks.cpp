#include "device/DeviceLocks.h"

#include <mutex>

namespace {
std::mutex g_lock;
std::string g_scope;
}  // namespace

void SetDeviceLockScope(std::string_view scope) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_scope = scope;
}

std::string DeviceLockName(std::string_view name) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_scope + std::string(name);
}
