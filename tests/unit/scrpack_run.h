// Runs scrpack in the test's process, and reads and writes its files.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scrpack.h"

inline std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Result {
    int code;
    std::string out, err;
};

inline Result RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = scrpack::RunScrpack(args, out, err);
    return {code, out.str(), err.str()};
}
