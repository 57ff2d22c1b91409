#include "form.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/system.h"
#include "destination.h"

using platform::ControlKind;

namespace {
constexpr int kImageBitmap = 2;  // resource of the header picture
constexpr int kImageIcon = 2;    // resource of the Directory page icon

// Between two repaints of the bar during the copy: 25 a second.
constexpr std::uint64_t kProgressPassMs = 40;
constexpr char kMsgInstallError[] = "There was an error installing %s. Installation is not complete.";
constexpr char kMsgDamagedDownload[] =
    "The setup file of %s is damaged and nothing was installed. Please download it again.";
// Shown to authors only, so never translated. Narrow: half the bytes.
constexpr char kPreviewNotice[] =
    "After successful installation screensaver setup would open Windows Screen Saver Settings. This window is "
    "not displayed in setup preview mode.";
}  // namespace

TSCRSetup::TSCRSetup(TSetupPackage& Package_, const TCommandLine& CommandLine)
    // The captions come with the translation (LangRenameControls).
    : btnNext(Window, ControlKind::Button, {337, 352, 80, 25}),
      btnCancel(Window, ControlKind::Button, {424, 352, 81, 25}),
      Notebook(Window, {8, 72, 497, 265}, {u"License", u"Directory", u"Ready", u"Progress", u"Readme", u"Finished"}),
      Label2(Notebook.PageAt(kPageLicense), ControlKind::Label, {32, 8, 433, 45}, {}, platform::kWordWrap),
      edLicense(Notebook.PageAt(kPageLicense), ControlKind::Memo, {32, 56, 433, 145}, {}, platform::kReadOnly),
      rbAccept(Notebook.PageAt(kPageLicense), ControlKind::RadioButton, {32, 208, 217, 17}),
      rbNotAccept(Notebook.PageAt(kPageLicense), ControlKind::RadioButton, {32, 228, 249, 17}),
      Image1(Notebook.PageAt(kPageDirectory), ControlKind::Picture, {32, 8, 32, 32}, {}, platform::kIcon, kImageIcon),
      Label1(Notebook.PageAt(kPageDirectory), ControlKind::Label, {80, 8, 372, 30}, {}, platform::kWordWrap),
      btnBrowse(Notebook.PageAt(kPageDirectory), ControlKind::Button, {384, 54, 83, 25}),
      edDirectory(Notebook.PageAt(kPageDirectory), ControlKind::Edit, {32, 56, 345, 23}),
      Label5(Notebook.PageAt(kPageReady), ControlKind::Label, {32, 8, 433, 57}, {}, platform::kWordWrap),
      ProgressBar(Notebook.PageAt(kPageProgress), ControlKind::ProgressBar, {32, 32, 433, 25}),
      Label3(Notebook.PageAt(kPageReadme), ControlKind::Label, {32, 8, 433, 25}, {}, platform::kWordWrap),
      edReadme(Notebook.PageAt(kPageReadme), ControlKind::Memo, {32, 40, 433, 193}),
      Label4(Notebook.PageAt(kPageFinished), ControlKind::Label, {32, 8, 433, 49}),
      btnBack(Window, ControlKind::Button, {256, 352, 81, 25}),
      Panel2(Window, {0, 0, 513, 65}, platform::kWindowColour),
      lbTitle(Panel2, ControlKind::Label, {18, 11, 185, 20}, {}, platform::kTitleFont | platform::kAutoSize),
      lbDescription(Panel2, ControlKind::Label, {40, 35, 210, 15}, {}, platform::kAutoSize),
      Image2(Panel2, ControlKind::Picture, {456, 8, 48, 48}, {}, platform::kStyleNone, kImageBitmap),
      Bevel2(Window, ControlKind::Bevel, {0, 65, 513, 9}),
      Bevel1(Window, ControlKind::Bevel, {0, 341, 513, 45}),
      Link(Window, ControlKind::Label, {16, 354, 109, 15}, {}, platform::kLinkStyle | platform::kAutoSize),
      Package(Package_),
      PreviewOnlyMode(CommandLine.PreviewOnly()),
      presetDirectory_(CommandLine.InstallDir) {
    rbNotAccept.SetChecked(true);
    btnNext.SetEnabled(false);
    btnBack.SetVisible(false);

    btnNext.OnClick = platform::Handler::Of<&TSCRSetup::btnNextClick>(this);
    btnBack.OnClick = platform::Handler::Of<&TSCRSetup::btnBackClick>(this);
    btnCancel.OnClick = platform::Handler::Of<&TSCRSetup::btnCancelClick>(this);
    rbAccept.OnClick = platform::Handler::Of<&TSCRSetup::rbAcceptClick>(this);
    rbNotAccept.OnClick = platform::Handler::Of<&TSCRSetup::rbAcceptClick>(this);
    Link.OnClick = platform::Handler::Of<&TSCRSetup::LinkClick>(this);
    btnBrowse.OnClick = platform::Handler::Of<&TSCRSetup::btnBrowseClick>(this);
    Notebook.OnPageChanged = platform::Handler::Of<&TSCRSetup::NotebookPageChanged>(this);
    Window.OnEscape = platform::Handler::Of<&TSCRSetup::FormKeyEscape>(this);
}

TSCRSetup::~TSCRSetup() = default;

void TSCRSetup::LangRenameControls() {
    btnBack.SetCaption(u"< " + LangStr("Back"));
    btnBrowse.SetCaption(LangStr("&Browse") + u"...");
    btnCancel.SetCaption(LangStr("Cancel"));
    btnNext.SetCaption(LangStr("Next") + u" >");
    Label1.SetCaption(LangStr("Select the folder where you would like the Screen Saver to be installed, then click Install."));
    Label2.SetCaption(LangStr("Please read the following License Agreement. You must accept the terms of this "
                              "agreement before continuing with the installation."));
    Label3.SetCaption(LangStr("When you are ready, click Next."));
    Label4.SetCaption(LangStr("Click Finish to exit Setup."));
    Label5.SetCaption(LangStr("The Setup is ready to install Screen Saver on your computer. Click Install to "
                              "continue, or Cancel to exit Setup."));
    rbAccept.SetCaption(LangStr("I &accept the agreement"));
    rbNotAccept.SetCaption(LangStr("I &do not accept the agreement"));

    static constexpr const char* kTitles[6] = {"License Agreement", "Select Destination Directory",
                                               "Ready to Install",  "Installing",
                                               "Information",       "Finish"};
    static constexpr const char* kDescriptions[6] = {
        "Please read the following important information before continuing.",
        "Where should Screen Saver be installed?",
        "Setup is ready to install Screen Saver.",
        "Please wait while Setup installs Screen Saver.",
        "Please read the following important information before continuing.",
        "The Setup has completed successfully."};
    for (std::size_t i = 0; i < 6; ++i) PageTitles[i] = LangStr(kTitles[i]);
    for (std::size_t i = 0; i < 6; ++i) PageDescriptions[i] = LangStr(kDescriptions[i]);
}

void TSCRSetup::NotebookPageChanged() {
    const int p = Notebook.PageIndex();
    lbTitle.SetCaption(PageTitles[static_cast<std::size_t>(p)]);
    lbDescription.SetCaption(PageDescriptions[static_cast<std::size_t>(p)]);
    btnNext.SetVisible(true);
    switch (p) {
        case kPageLicense:
            btnNext.SetCaption(LangStr("Next") + u" >");
            btnBack.SetVisible(false);
            break;
        case kPageDirectory:
        case kPageReady:
            FillDefaultDirectory();
            btnNext.SetCaption(LangStr("Install"));
            btnNext.SetEnabled(true);
            btnBack.SetVisible(Package.SetupHeader.LicensePageInUse());
            break;
        case kPageProgress:
        case kPageReadme:
            btnNext.SetCaption(LangStr("Next") + u" >");
            btnBack.SetVisible(false);
            btnCancel.SetEnabled(false);
            break;
        default:
            btnNext.SetCaption(LangStr("Finish"));
            btnBack.SetVisible(false);
            btnCancel.SetEnabled(false);
            break;
    }
}

void TSCRSetup::FormCreate() {
    LangRenameControls();
    StartInstallerPages();
}

// Start page, readme and licence texts, caption and link of an installer.
void TSCRSetup::StartInstallerPages() {
    if (!Package.Readme.empty()) edReadme.SetCaption(Package.Readme);
    if (!Package.License.empty()) edLicense.SetCaption(Package.License);
    Notebook.SetPageIndex(Package.SetupHeader.LicensePageInUse()    ? kPageLicense
                          : Package.SetupHeader.SkipDirectoryPage() ? kPageReady
                                                            : kPageDirectory);
    NotebookPageChanged();
    Window.SetCaption(Package.SetupHeader.Title() + u" " + LangStr("Setup"));
    // Anything but a web address could make the shell start a program or open a file.
    const std::u16string link = Package.SetupHeader.LinkAddress();
    if (text::IsWebAddress(link)) Link.SetCaption(link);
    else Link.SetVisible(false);
}

void TSCRSetup::btnNextClick() {
    const int before = Notebook.PageIndex();
    // A refused directory has put the wizard back on the Directory page: nothing more to do.
    if ((before == kPageDirectory || before == kPageReady) && !btnOKClick()) return;
    const int p = Notebook.PageIndex();
    if (p == kPageLicense && Package.SetupHeader.SkipDirectoryPage()) Notebook.SetPageIndex(kPageReady);
    else if (p < kPageFinished) Notebook.SetPageIndex(p + 1);
    else Window.Close();
}

void TSCRSetup::btnBackClick() {
    const int p = Notebook.PageIndex();
    if (p == kPageReady) Notebook.SetPageIndex(kPageLicense);
    else if (p > 0) Notebook.SetPageIndex(p - 1);
}

void TSCRSetup::btnCancelClick() { Window.Close(); }

void TSCRSetup::rbAcceptClick() {
    if (!Package.SetupHeader.LicensePageMode()) return;
    const bool accepted = rbAccept.Checked();
    btnNext.SetEnabled(accepted);
    if (accepted) btnNext.SetFocus();
}

void TSCRSetup::LinkClick() {
    const std::u16string address = Link.Caption();
    if (text::IsWebAddress(address))
        platform::ShellOpen(true, u"", address, u"", GetSystemDir(), platform::SW_SHOWNORMAL_);
}

void TSCRSetup::btnBrowseClick() {
    std::u16string folder = edDirectory.Caption();
    if (platform::BrowseForFolder(folder, LangStr("Browse"), 0)) edDirectory.SetCaption(folder);
}

void TSCRSetup::FormKeyEscape() {
    // The multi-line boxes keep Escape to themselves.
    if (edLicense.Focused() || edReadme.Focused()) return;
    for (platform::Control* button : {&btnCancel, &btnBack, &btnNext}) {
        if (button->Visible() && button->Enabled()) {
            button->Click();
            return;
        }
    }
}

void TSCRSetup::FillDefaultDirectory() {
    if (directoryFilled_) return;
    directoryFilled_ = true;
    edDirectory.SetCaption(!presetDirectory_.empty() ? presetDirectory_ : DefaultInstallDirectory(Package.SetupHeader));
}

// Back on the Directory page, where the user can choose again.
void TSCRSetup::ReturnToDirectoryPage() {
    Notebook.SetPageIndex(kPageDirectory);
    NotebookPageChanged();
}

bool TSCRSetup::RefuseDirectory(std::string_view messageKey) {
    platform::ShowMessage(LangStr(messageKey), kApplicationTitle, platform::MB_ICONERROR_);
    ReturnToDirectoryPage();
    return false;
}

void TSCRSetup::ReportInstallFailure(InstallStep FailedStep) {
    const std::string_view key = FailedStep == InstallStep::Checksum ? kMsgDamagedDownload : kMsgInstallError;
    const std::u16string message = text::ReplaceAll(LangStr(key), u"%s", Package.SetupHeader.Title());
    platform::ShowMessage(message, Window.Caption(), platform::MB_ICONERROR_);
    Window.Close();
}

bool TSCRSetup::MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir) {
    return ::MakeUniqueFileName(FileName, Dir, Package.SetupHeader.Title());
}

void TSCRSetup::CopyStarted() {
    passed_ = false;
    platform::Application::SetBusyCursor(true);
    Window.SetEnabled(false);
}

void TSCRSetup::CopyEnded() {
    Window.SetEnabled(true);
    platform::Application::SetBusyCursor(false);
}

void TSCRSetup::CopyProgress(int Percent) {
    if (ProgressBar.Position() != Percent) ProgressBar.SetPosition(Percent);
    // Each repaint and message pass is a round trip to the window system: a few dozen a
    // second keep the window alive, one per chunk would slow a large copy down.
    const std::uint64_t now = platform::TickCount();
    if (passed_ && now - lastPass_ < kProgressPassMs) return;
    passed_ = true;
    lastPass_ = now;
    ProgressBar.Repaint();
    platform::Application::ProcessMessages();
}

bool TSCRSetup::btnOKClick() {
    Notebook.SetPageIndex(kPageProgress);
    btnNext.SetVisible(false);
    ProgressBar.SetMax(100);

    TInstallOptions options;
    options.PreviewOnly = PreviewOnlyMode;
    options.OpenSettings = !PreviewOnlyMode;
    const TInstallResult result = RunInstallation(Package, edDirectory.Caption(), options, *this);
    if (!result.Directory.empty()) edDirectory.SetCaption(result.Directory);
    if (result.DirectoryRefused()) return RefuseDirectory(result.MessageKey);
    InstallationRan = true;
    outcome_ = result.ToOutcome();
    if (!result.Succeeded()) {
        ReportInstallFailure(result.FailedStep);
        return true;
    }
    if (PreviewOnlyMode) platform::ShowMessage(text::Widen(kPreviewNotice), Package.SetupHeader.Title(), platform::MB_ICONINFORMATION_);
    if (Package.SetupHeader.ReadmeSize() == 0) Notebook.SetPageIndex(kPageFinished);
    return true;
}

Outcome TSCRSetup::RunOutcome() const {
    if (Window.Closed() && !InstallationRan) return Outcome::Cancelled;
    return outcome_;
}

Outcome RunWizard(TSetupPackage& Package, const TCommandLine& CommandLine) {
    TSCRSetup form(Package, CommandLine);
    form.FormCreate();
    form.Window.Run();
    return form.RunOutcome();
}
