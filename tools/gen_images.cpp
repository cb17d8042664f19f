// Writes the built-in firmware images into a directory, one file "<id>.bin" per entry of the
// built-in image table. The build embeds the files as "BINARY" resources.
//     gen_images <output directory>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/BuiltInImages.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    for (const uafw::BuiltInImageEntry& entry : uafw::BuiltInImageTable()) {
        const std::vector<std::uint8_t> image = uafw::BuildBuiltInImage(entry);
        if (image.size() != entry.length) {
            std::fprintf(stderr, "image %s could not be built\n", entry.name.c_str());
            return 1;
        }
        const std::filesystem::path file = dir / (std::to_string(entry.id) + ".bin");
        const std::filesystem::path temp = dir / (std::to_string(entry.id) + ".bin.tmp");
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", temp.c_str());
                return 1;
            }
        }
        std::filesystem::rename(temp, file, ec);
        if (ec) {
            std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(), ec.message().c_str());
            return 1;
        }
    }
    return 0;
}
