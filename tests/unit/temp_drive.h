// A fresh host folder that stands in for drive C: and is the working directory during
// one test, so that relative names land there too.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/text.h"
#include "platform/standin/standin.h"

class TempDrive {
public:
    TempDrive() {
        std::string pattern = (std::filesystem::temp_directory_path() / "scrsetup-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
        standin::Reset();
        standin::MapDrive(u'C', root_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
    }
    ~TempDrive() {
        standin::Reset();
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempDrive(const TempDrive&) = delete;
    TempDrive& operator=(const TempDrive&) = delete;

    const std::string& Root() const { return root_; }
    // Host path of a Windows path on C:, e.g. Host(u"C:\\A") == Root() + "/A".
    std::filesystem::path Host(const std::u16string& windowsPath) const { return standin::HostPath(windowsPath); }

    void WriteFile(const std::u16string& windowsPath, const std::string& content) const {
        std::ofstream(Host(windowsPath), std::ios::binary) << content;
    }
    std::string ReadFile(const std::u16string& windowsPath) const {
        std::ifstream in(Host(windowsPath), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool IsDir(const std::u16string& windowsPath) const { return std::filesystem::is_directory(Host(windowsPath)); }
    bool Exists(const std::u16string& windowsPath) const { return std::filesystem::exists(Host(windowsPath)); }

private:
    std::string root_;
    std::filesystem::path previous_;
};
