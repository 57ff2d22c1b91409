// Reading the package behind the stub, and writing the uninstaller image.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "setup_header.h"

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

// Any failure while reading the package: no trailer, a block outside the file, bad sizes.
// Carries a fixed text only: std::string would pull the runtime's string code into the stub.
class EPackageError : public std::exception {
public:
    explicit EPackageError(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;
};

// Logical end of the package: the position just past the signature nearest the file's end.
// Throws EPackageError when the file holds no signature.
std::int64_t LocateTrailer(ByteSource& source);

// Reads exactly count bytes at offset or throws EPackageError.
void ReadExact(ByteSource& source, std::int64_t offset, void* buffer, std::size_t count);

// Problems that make a header unusable, in words for people: the common ones and the role's.
std::vector<const char*> HeaderProblems(const TSetupHeader& header, std::int64_t fileEnd, TrailerKind role);
// The checks that do not depend on the role, made before the language text is read.
std::vector<const char*> CommonHeaderProblems(const TSetupHeader& header, std::int64_t fileEnd);
// The checks of the role alone. Uninstallers carry the installer's PackageSize, which then
// describes nothing and is not checked.
std::vector<const char*> RoleProblems(const TSetupHeader& header, std::int64_t fileEnd, TrailerKind role);

// Position of the texts block and of the screensaver bytes.
std::int64_t TextsStart(const TSetupHeader& header, std::int64_t fileEnd);
std::int64_t PayloadStart(const TSetupHeader& header, std::int64_t fileEnd);
std::int64_t PayloadLength(const TSetupHeader& header);

struct OsVersionInfo {
    bool ok = false;
    std::uint32_t platformId = 0, major = 0, minor = 0;
    std::u16string servicePack;
};

int WindowsVersionClass(const OsVersionInfo& info);

// Shortens the file-name part of ScrFileName on version class 5 and above.
void ApplyShortNameRule(TSetupHeader& header, int versionClass);
std::u16string ShortScrName(std::u16string_view name);

// Clears the certificate-table entry and the checksum of PE headers that name a
// certificate table; other bytes, and images that are not PE files, stay as they are.
void UnsignStubHeaders(std::uint8_t* bytes, std::size_t count);

// Stub (unsigned), texts block, header as held in memory, uninstaller signature.
// Throws EPackageError when the stub or the texts cannot be copied whole.
void WriteUninstallerImage(ByteSource& source, ByteSink& target, std::int64_t fileEnd, const TSetupHeader& header);

// Copies count bytes from offset in bounded chunks; false when any byte is missing.
bool CopyRange(ByteSource& source, std::int64_t offset, std::int64_t count, ByteSink& target);
