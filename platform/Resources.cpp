#include "platform/Resources.h"

#include "platform/EmbeddedResource.h"

namespace uafw {

std::optional<ResourceBytes> FindResource(std::string_view type, int id) {
    for (std::size_t i = 0; i < g_EmbeddedResourceCount; ++i) {
        const EmbeddedResource& r = g_EmbeddedResources[i];
        if (r.id == id && type == r.type) {
            return ResourceBytes(reinterpret_cast<const std::uint8_t*>(r.begin),
                                 static_cast<std::size_t>(r.end - r.begin));
        }
    }
    return std::nullopt;
}

std::string_view ResourceText(std::string_view type, int id) {
    auto bytes = FindResource(type, id);
    if (!bytes)
        return {};
    return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace uafw
