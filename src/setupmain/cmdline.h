// The command line, read once at the start into the run it asks for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a command line the way the program's parameters are numbered: blanks and control
// characters separate, double quotes group and are removed, backslashes are plain text.
// Element 0 is the program name.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// What the command line asks for. Uninstalling is not a switch: an uninstaller's package
// says so, whatever the mode.
enum class RunMode { Wizard, Silent, PreviewOnly, DelFile, Help };

// The switches of the installers deployment tools drive stand anywhere, in any letter case
// but otherwise exactly so:
// /S (a silent run), /LOG=file and -log file (the run's log), /? and -? (the help),
// and /D=folder last, which takes the rest of the command line as it stands (blanks and all,
// no quotes). They are taken out of Params; everything else keeps its place there, where
// the first parameter chooses the mode as before: -silent [DIR], -previewonly, -delfile.
// Parameters no switch knows are ignored.
struct TCommandLine {
    RunMode Mode = RunMode::Wizard;
    std::vector<std::u16string> Params;  // element 0 the program
    // /D=: the installation folder; empty without.
    std::u16string InstallDir;
    // /LOG= or -log, the last one given; empty without.
    std::u16string LogFile;
    // A silent installation's folder: /D=, else the parameter after a first -silent; empty for
    // the default.
    std::u16string SilentDirectory;

    int ParamCount() const { return Params.empty() ? 0 : static_cast<int>(Params.size()) - 1; }
    std::u16string ParamStr(int index) const;  // empty beyond ParamCount

    bool Silent() const { return Mode == RunMode::Silent; }
    bool PreviewOnly() const { return Mode == RunMode::PreviewOnly; }
    // -delfile FILE [CAPTION TEXT]: the box is shown only when both of its texts are given.
    // -delfile FILE WORD: the box of the copy's own package that the closing word names; the
    // word, or empty without one.
    std::u16string DelFileTarget() const { return ParamStr(2); }
    bool DelFileBox() const { return ParamCount() == 4; }
    std::u16string DelFileClosingWord() const;
    std::u16string DelFileCaption() const { return ParamStr(3); }
    std::u16string DelFileText() const { return ParamStr(4); }
};

TCommandLine ParseCommandLine(std::u16string_view commandLine);

// The closing words an uninstaller passes its temporary copy: fixed, never translated.
inline constexpr char16_t kClosingRemoved[] = u"-removed";
inline constexpr char16_t kClosingRemovedAtRestart[] = u"-removed-at-restart";

// The application title, caption of the messages without one of their own.
inline constexpr char16_t kApplicationTitle[] = u"Screensaver Setup";
