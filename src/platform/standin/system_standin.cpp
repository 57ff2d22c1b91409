#include "../system.h"

#include "../../common/crc32.h"
#include "../ui.h"
#include "standin.h"

namespace {

struct State {
    std::u16string commandLine = u"setup.exe";
    OsVersionInfo os{true, 2, 6, 1, u""};
    std::vector<standin::MessageRecord> messages;
    int answer = platform::IDOK_;
    std::u16string title;
    bool showMainForm = true;
    bool terminated = false;
    std::vector<standin::ShellCall> shellCalls;
    bool browseAnswers = false;
    std::u16string browseAnswer, browseStart, browseText;
    int browseCount = 0;
    bool busy = false;
    std::uint64_t counter = 12345;
    std::uint64_t ticks = 1000, tickStep = 0;
    bool systemAccount = false;
    bool elevated = false;
    bool runningImage = true;
    std::vector<std::string> trace;
    std::function<void()> pump;
    std::uint32_t lastError = 0;
    std::uint32_t processId = 4711;
    platform::DateTime time{{2024, 5, 6, 7, 8, 9, 10}};
};

State& S() {
    static State state;
    return state;
}

}  // namespace

namespace standin {
void SetCommandLine(const std::u16string& commandLine) { S().commandLine = commandLine; }
void SetOsVersion(const OsVersionInfo& info) { S().os = info; }
void SetLastError(std::uint32_t code) { S().lastError = code; }
std::vector<MessageRecord>& Messages() { return S().messages; }
void SetMessageAnswer(int answer) { S().answer = answer; }
std::vector<ShellCall>& ShellCalls() { return S().shellCalls; }
void SetBrowseAnswer(const std::u16string* chosen) {
    S().browseAnswers = chosen != nullptr;
    S().browseAnswer = chosen ? *chosen : std::u16string();
}
const std::u16string& LastBrowseStart() { return S().browseStart; }
const std::u16string& LastBrowseText() { return S().browseText; }
int BrowseCount() { return S().browseCount; }
bool BusyCursor() { return S().busy; }
void SetPerformanceCounter(std::uint64_t value) { S().counter = value; }
void SetClockStep(std::uint64_t ms) { S().tickStep = ms; }
void SetSystemAccount(bool system) { S().systemAccount = system; }
void SetElevated(bool elevated) { S().elevated = elevated; }
void SetRunningImage(bool matches) { S().runningImage = matches; }
std::vector<std::string>& UiTrace() { return S().trace; }
void SetMessagePump(std::function<void()> pump) { S().pump = std::move(pump); }
void ResetProcess() {
    State fresh;
    fresh.os = S().os;
    fresh.counter = S().counter;
    fresh.processId = S().processId + 1;
    fresh.time = S().time;
    S() = std::move(fresh);
}
void Reset() {
    S() = State{};
    RebootDeletions().clear();
    RebootReplacements().clear();
    SetSleepHook(nullptr);
    ResetControls();
    ResetFileLocks();
    ResetShell();
    ResetRegistry();
}
}  // namespace standin

namespace platform {

std::u16string CommandLine() { return S().commandLine; }
OsVersionInfo OsVersion() { return S().os; }
bool IsSystemAccount() { return S().systemAccount; }
bool IsElevated() { return S().elevated || S().systemAccount; }

std::uint64_t TickCount() { return S().ticks += S().tickStep; }
std::uint32_t LastError() { return S().lastError; }
std::uint32_t ProcessId() { return S().processId; }
DateTime LocalTime() { return S().time; }

std::uint64_t PerformanceCounter() { return S().counter; }
bool IsRunningImage(ByteSource&) { return S().runningImage; }

std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size) { return ::Crc32(Crc, Data, Size); }

// The stand-in's 8-bit code page is ISO 8859-1: every unit up to U+00FF, nothing else.
bool ToAnsiExact(std::u16string_view text, std::string& out) {
    out.clear();
    for (const char16_t c : text) {
        if (c > 0xFF) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<char>(c));
    }
    return true;
}

int ShowMessage(const std::u16string& text, const std::u16string& caption, unsigned flags) {
    S().messages.push_back({text, caption, flags});
    return S().answer;
}

void Application::SetTitle(const std::u16string& title) { S().title = title; }
const std::u16string& Application::Title() { return S().title; }
void Application::SetShowMainForm(bool show) { S().showMainForm = show; }
bool Application::ShowMainForm() { return S().showMainForm; }
void Application::Terminate() { S().terminated = true; }
bool Application::Terminated() { return S().terminated; }
void Application::ProcessMessages() {
    if (S().pump) S().pump();
}
void Application::SetBusyCursor(bool busy) {
    S().busy = busy;
    S().trace.push_back(busy ? "busy" : "idle");
}

bool ShellOpen(bool ownedByMainForm, const std::u16string& verb, const std::u16string& file,
               const std::u16string& parameters, const std::u16string& directory, int showCommand) {
    S().shellCalls.push_back({ownedByMainForm, verb, file, parameters, directory, showCommand});
    return true;
}

bool BrowseForFolder(std::u16string& Folder, const std::u16string& Text, int) {
    ++S().browseCount;
    S().browseStart = Folder;
    S().browseText = Text;
    if (!S().browseAnswers) return false;
    Folder = S().browseAnswer;
    return true;
}

Form::Form() : caption_(u"Screen Saver Setup") {}
Form::~Form() = default;
void Form::SetCaption(const std::u16string& caption) { caption_ = caption; }
std::u16string Form::Caption() const { return caption_; }
bool Form::IsVisible() const { return visible_; }
void Form::Close() {
    closed_ = true;
    visible_ = false;
}
void Form::SetEnabled(bool enabled) {
    enabled_ = enabled;
    S().trace.push_back(enabled ? "form enabled" : "form disabled");
}
// Tests drive the form directly; the stand-in loop only shows it.
void Form::Run() {
    if (!S().terminated && !closed_ && S().showMainForm) visible_ = true;
}

}  // namespace platform
