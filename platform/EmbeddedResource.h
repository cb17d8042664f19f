#pragma once
// One compiled-in resource: the bytes of a file under resources/ (or generated at build time),
// identified like the program's resources by a type name and an integer id.
#include <cstddef>

namespace uafw {

struct EmbeddedResource {
    const char* type;
    int id;
    const unsigned char* begin;
    const unsigned char* end;
};

// The table the build generates (cmake/EmbedResources.cmake); the last row is all null.
extern const EmbeddedResource g_EmbeddedResources[];
extern const std::size_t g_EmbeddedResourceCount;

}  // namespace uafw
