// Byte streams: the running program's file, files of the packer, bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Random-access input: the running executable, or bytes in memory for tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t Size() = 0;
    // Reads up to count bytes at offset; returns how many were read.
    virtual std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Returns how many bytes were written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
};

// Bytes in memory, for building and checking images without files.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
        if (offset < 0 || static_cast<std::uint64_t>(offset) >= bytes_.size()) return 0;
        const auto start = static_cast<std::size_t>(offset);
        const std::size_t n = count < bytes_.size() - start ? count : bytes_.size() - start;
        bytes_.copy(static_cast<char*>(buffer), n, start);
        return n;
    }

private:
    std::string_view bytes_;
};

class StringSink final : public ByteSink {
public:
    std::size_t Write(const void* buffer, std::size_t count) override {
        bytes.append(static_cast<const char*>(buffer), count);
        return count;
    }
    std::string bytes;
};
