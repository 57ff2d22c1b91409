#include <map>

#include "../../common/text.h"
#include "../files.h"
#include "../shell.h"
#include "standin.h"

namespace {

struct ShellState {
    std::u16string windowsDir = u"C:\\Windows";
    std::u16string systemDir = u"C:\\Windows\\system32";
    std::u16string tempDir = u"C:\\Windows\\Temp\\";
    std::map<int, std::u16string> specialFolders;
    standin::LinkStep failingStep = standin::LinkStep::None;
    platform::HResult failure = platform::S_OK_;
    int comInitialisations = 0;
    int liveLinks = 0;
};

ShellState& S() {
    static ShellState state;
    return state;
}

struct LinkObject {
    std::u16string target;
    std::u16string icon;
    int iconIndex = 0;
};

platform::HResult Injected(standin::LinkStep step) {
    return S().failingStep == step ? S().failure : platform::S_OK_;
}

// SHGetSpecialFolderLocation's answer for a folder the system does not have.
constexpr platform::HResult kFolderNotFound = static_cast<platform::HResult>(0x80070002u);
// STG_E_PATHNOTFOUND, the answer of IPersistFile::Save for a missing folder.
constexpr platform::HResult kPathNotFound = static_cast<platform::HResult>(0x80030003u);

}  // namespace

namespace standin {
void SetWindowsDir(const std::u16string& path) { S().windowsDir = path; }
void SetSystemDir(const std::u16string& path) { S().systemDir = path; }
void SetTempDir(const std::u16string& path) { S().tempDir = path; }
void SetSpecialFolder(int csidl, const std::u16string& path) { S().specialFolders[csidl] = path; }
void FailShellLink(LinkStep step, std::int32_t result) {
    S().failingStep = step;
    S().failure = result;
}
int PendingComInitialisations() { return S().comInitialisations; }
int LiveShellLinks() { return S().liveLinks; }
void ResetShell() { S() = ShellState{}; }
}  // namespace standin

namespace platform {

std::u16string WindowsDirectory() { return S().windowsDir; }
std::u16string SystemDirectory() { return S().systemDir; }
std::u16string TempDirectory() { return S().tempDir; }

HResult SpecialFolderPath(int csidl, FolderOwner, std::u16string& path) {
    path.clear();
    const auto it = S().specialFolders.find(csidl);
    if (it == S().specialFolders.end()) return kFolderNotFound;
    path = it->second;
    return S_OK_;
}

ShellLink::ShellLink() {
    ++S().comInitialisations;
    comInitialised_ = true;
    status_ = Injected(standin::LinkStep::CreateObject);
    if (Failed(status_)) return;
    link_ = new LinkObject;
    ++S().liveLinks;
    status_ = Injected(standin::LinkStep::QueryPersistFile);
    if (Failed(status_)) return;
    persist_ = link_;
}

ShellLink::~ShellLink() {
    if (link_) {
        delete static_cast<LinkObject*>(link_);
        --S().liveLinks;
    }
    if (comInitialised_) --S().comInitialisations;
}

void ShellLink::SetPath(const std::u16string& target) {
    if (link_) static_cast<LinkObject*>(link_)->target = target;
}

void ShellLink::SetIconLocation(const std::u16string& file, int index) {
    if (!link_) return;
    auto* link = static_cast<LinkObject*>(link_);
    link->icon = file;
    link->iconIndex = index;
}

HResult ShellLink::Save(const std::u16string& linkPath) {
    if (!persist_) return Failed(status_) ? status_ : E_FAIL_;
    if (const HResult hr = Injected(standin::LinkStep::Save); Failed(hr)) return hr;
    const auto* link = static_cast<const LinkObject*>(persist_);
    const std::u16string content =
        u"target=" + link->target + u"\nicon=" + link->icon + u"," + text::DecimalText(link->iconIndex) + u"\n";
    const std::string bytes = text::Utf16ToUtf8(content);
    File file = File::CreateExclusive(linkPath);
    if (!file.IsOpen()) return kPathNotFound;
    return file.Write(bytes.data(), bytes.size()) == bytes.size() ? S_OK_ : E_FAIL_;
}

HResult ShellLink::Load(const std::u16string& linkPath) {
    if (!persist_) return Failed(status_) ? status_ : E_FAIL_;
    File file = File::OpenRead(linkPath, Share::DenyNone);
    if (!file.IsOpen()) return kPathNotFound;
    std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
    if (file.ReadAt(0, bytes.data(), bytes.size()) != bytes.size()) return E_FAIL_;
    const std::u16string content = text::Utf8ToUtf16(bytes);
    constexpr std::u16string_view kTarget = u"target=";
    if (content.compare(0, kTarget.size(), kTarget) != 0) return E_FAIL_;
    static_cast<LinkObject*>(link_)->target = content.substr(kTarget.size(), content.find(u'\n') - kTarget.size());
    return S_OK_;
}

std::u16string ShellLink::Target() const { return link_ ? static_cast<const LinkObject*>(link_)->target : u""; }

}  // namespace platform
