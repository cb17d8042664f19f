#pragma once
// Node ids for the devices of a USB tree: a device keeps its id while it stays attached and gets a
// new one when it re-enumerates. Keys are opaque identities of the backend's device objects; the
// backend guarantees a key is not reused while it is registered.
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace uafw::usb {

class NodeIdRegistry {
public:
    using Key = const void*;

    // The id of `key`, assigning the next unused one the first time; `added` tells which.
    std::uint32_t Acquire(Key key, bool& added);
    std::optional<std::uint32_t> Find(Key key) const;
    std::optional<Key> KeyOf(std::uint32_t id) const;
    // Forgets `key`; its id is never handed out again. Returns the id, 0 when unknown.
    std::uint32_t Forget(Key key);
    std::vector<Key> Keys() const;

private:
    std::uint32_t next_ = 1;
    std::map<Key, std::uint32_t> ids_;
    std::map<std::uint32_t, Key> keys_;
};

}  // namespace uafw::usb
