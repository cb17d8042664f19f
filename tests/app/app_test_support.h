#pragma once
// Helpers of the application-shell tests: a private temporary directory and file reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace apptest {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        m_path =
            fs::temp_directory_path() / ("uafw_app_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Runs the test with the given current directory and restores the previous one.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const fs::path& dir) : m_previous(fs::current_path()) {
        fs::current_path(dir);
    }
    ~ScopedCurrentDir() {
        std::error_code ec;
        fs::current_path(m_previous, ec);
    }

private:
    fs::path m_previous;
};

}  // namespace apptest
