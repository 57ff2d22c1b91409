#include "fileio.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace scrpack {

namespace {

std::string Reason() { return std::strerror(errno); }

bool SeekTo(std::FILE* f, std::int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(f, offset, origin) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), origin) == 0;
#endif
}

std::int64_t Tell(std::FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<std::int64_t>(ftello(f));
#endif
}

// Creates the file only if no file of that name exists, so two runs never share a temp file.
std::FILE* CreateExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* f = _fdopen(fd, "wb");
    if (!f) _close(fd);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
#endif
    return f;
}

bool SyncToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return ::fsync(::fileno(f)) == 0;
#endif
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

InputFile::InputFile(const std::string& path) {
    const auto p = PathFromUtf8(path);
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) throw EFileError(path + " is a folder, not a file");
#ifdef _WIN32
    file_ = _wfopen(p.c_str(), L"rb");
#else
    file_ = std::fopen(p.c_str(), "rb");
#endif
    if (!file_) throw EFileError("cannot open " + path + ": " + Reason());
    if (!SeekTo(file_, 0, SEEK_END) || (size_ = Tell(file_)) < 0) {
        const std::string why = Reason();
        Close();
        throw EFileError("cannot read " + path + ": " + why);
    }
}

InputFile::~InputFile() { Close(); }

void InputFile::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

std::size_t InputFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
    if (!file_ || offset < 0 || !SeekTo(file_, offset, SEEK_SET)) return 0;
    return std::fread(buffer, 1, count, file_);
}

AtomicOutput::AtomicOutput(const std::string& target) : target_(PathFromUtf8(target)) {
    std::error_code ec;
    if (std::filesystem::is_directory(target_, ec)) throw EFileError(target + " is a folder");
    if (!target_.has_filename()) throw EFileError(target + " names no file");
    const auto folder = target_.parent_path();
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        temp_ = folder / target_.filename();
        temp_ += suffix;
        file_ = CreateExclusive(temp_);
        if (!file_ && errno != EEXIST) break;
    }
    if (!file_) throw EFileError("cannot create a file in the folder of " + target + ": " + Reason());
}

AtomicOutput::~AtomicOutput() { Discard(); }

std::size_t AtomicOutput::Write(const void* buffer, std::size_t count) {
    if (!file_ || failed_) return 0;
    const std::size_t n = std::fwrite(buffer, 1, count, file_);
    if (n != count) {
        failed_ = true;
        writeError_ = Reason();
    }
    return n;
}

void AtomicOutput::Commit() {
    if (!file_) throw EFileError("the output was already closed");
    // A full disk often shows only when the buffers are flushed or the file is closed.
    std::string why = writeError_;
    if (!failed_ && !SyncToDisk(file_)) why = Reason();
    if (std::fclose(file_) != 0 && why.empty()) why = Reason();
    file_ = nullptr;
    if (!why.empty()) {
        Discard();
        throw EFileError("cannot write " + PathToUtf8(target_) + ": " + why);
    }
    std::error_code ec;
    std::filesystem::rename(temp_, target_, ec);
    if (ec) {
        Discard();
        throw EFileError("cannot replace " + PathToUtf8(target_) + ": " + ec.message());
    }
    temp_.clear();
}

void AtomicOutput::Discard() noexcept {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
        temp_.clear();
    }
}

}  // namespace scrpack
