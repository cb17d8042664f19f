#pragma once
// The names of the device-access locks. Every process of the tool uses the same names, so the
// locks serialise device work across processes. Test programs that run side by side in virtual
// time put their locks in a private scope, so that their waits never meet the holds of another
// test process.
#include <string>
#include <string_view>

// Prefixes every device lock name created from now on with `scope` (empty: the plain names).
void SetDeviceLockScope(std::string_view scope);
// The name in effect for the lock `name`.
std::string DeviceLockName(std::string_view name);
