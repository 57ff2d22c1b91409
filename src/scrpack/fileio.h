// Files for the packer: positioned reads with 64-bit offsets, and an output that only
// appears under its real name once it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "package/package.h"

namespace scrpack {

// Paths travel through the packer as UTF-8, also on Windows.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// A failure to open, read or write; the message names the file.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class InputFile : public ByteSource {
public:
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::int64_t Size() override { return size_; }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override;
    void Close();

private:
    std::FILE* file_ = nullptr;
    std::int64_t size_ = 0;
};

// Written to a fresh file beside the target and renamed over it by Commit(). Until then
// the target is untouched; a file that is never committed is removed.
class AtomicOutput : public ByteSink {
public:
    explicit AtomicOutput(const std::string& target);
    ~AtomicOutput() override;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    std::size_t Write(const void* buffer, std::size_t count) override;
    // Why the last write failed, or empty.
    const std::string& WriteError() const { return writeError_; }
    // Throws EFileError when anything written so far did not reach the disk.
    void Commit();

private:
    void Discard() noexcept;

    std::filesystem::path target_, temp_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::string writeError_;
};

}  // namespace scrpack
