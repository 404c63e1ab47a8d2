// The wizard dialog: its pages and their controls, texts and defaults, the font, the page
// switching and the progress page.
#include <cstdlib>
#include <cstring>

#include "pictures.h"
#include "platform.h"
#include "setup_wizard.h"
#include "twcl/base/error.h"
#include "twcl/ui/font.h"
#include "twcl/ui/picture_button.h"
#include "twcl/ui/win32/native.h"

namespace tw::install::gui {
namespace {

using twui::Wide;

const void* Picture(WizardPicture which) {
  return &WizardPictureData(which);
}

constexpr UI_ChildDescriptor kEnd = {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr};

// The three buttons that stay on every page.
const UI_ChildDescriptor kButtons[] = {
    {UI_KindPushButton, kIdPrevious, 54, 360, 120, 24, true, kPreviousText, nullptr},
    {UI_KindPushButton, kIdNext, 228, 360, 120, 24, true, kNextText, nullptr},
    {UI_KindPushButton, kIdQuit, 402, 360, 120, 24, true, kQuitText, nullptr},
    kEnd};

const UI_ChildDescriptor kPage0[] = {
    {UI_KindLabel, kIdWelcomeText, 60, 50, 505, 255, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor kInstallChoicesPage[] = {
    {UI_KindBitmapButton, kIdNewCluster, 5, 30, 60, 50, true, nullptr,
     Picture(WizardPicture::newCluster)},
    {UI_KindLabel, kIdNewClusterText, 70, 30, 515, 50, false, nullptr, nullptr},
    {UI_KindBitmapButton, kIdAddServer, 5, 95, 60, 50, true, nullptr,
     Picture(WizardPicture::addServer)},
    {UI_KindLabel, kIdAddServerText, 70, 95, 515, 50, false, nullptr, nullptr},
    {UI_KindBitmapButton, kIdAddClient, 5, 160, 60, 50, true, nullptr,
     Picture(WizardPicture::addClient)},
    {UI_KindLabel, kIdAddClientText, 70, 160, 515, 50, false, nullptr, nullptr},
    kEnd};

const UI_ChildDescriptor kPage2[] = {
    {UI_KindLabel, kIdMemberNameLabel, 5, 10, 228, 30, false, nullptr, nullptr},
    {UI_KindLabel, kIdAdminServerLabel, 5, 50, 228, 30, false, "Ordex Server Name:", nullptr},
    {UI_KindLabel, kIdAdminDatabaseLabel, 5, 90, 228, 30, false,
     "Administrator Database Filename:", nullptr},
    {UI_KindLabel, kIdLogDatabaseLabel, 5, 130, 228, 30, false, "Log Database Filename:", nullptr},
    {UI_KindLabel, kIdVaultDatabaseLabel, 5, 210, 228, 30, false,
     "Vault Database Filename:", nullptr},
    {UI_KindLabel, kIdDocDatabaseLabel, 5, 290, 228, 30, false,
     "Documentation Database Filename:", nullptr},
    {UI_KindStringEditor, kIdMemberName, 230, 10, 330, 23, true, nullptr, nullptr},
    {UI_KindStringEditor, kIdAdminServer, 230, 50, 330, 23, true, nullptr, nullptr},
    {UI_KindStringEditor, kIdAdminDatabase, 230, 90, 330, 23, true, nullptr, nullptr},
    {UI_KindStringEditor, kIdLogDatabase, 230, 130, 330, 23, true, nullptr, nullptr},
    {UI_KindToggle, kIdCreateVault, 5, 180, 550, 30, true, "Install Tarnway Quenscript Vault",
     nullptr},
    {UI_KindStringEditor, kIdVaultDatabase, 230, 210, 330, 23, true, nullptr, nullptr},
    {UI_KindToggle, kIdInstallDocs, 5, 260, 550, 30, true,
     "Install Tarnway Help and QSX Documentation Database", nullptr},
    {UI_KindStringEditor, kIdDocDatabase, 230, 290, 330, 23, true, nullptr, nullptr},
    kEnd};

const UI_ChildDescriptor kPage3[] = {
    {UI_KindToggle, kIdMigrate, 5, 10, 565, 50, true,
     "Insert contents of a Release 1 Administrator Database into the Release 2 Administrator",
     nullptr},
    {UI_KindLabel, kIdRelease1Title, 5, 50, 565, 50, false,
     "Release 1 Administrator Database Location", nullptr},
    {UI_KindLabel, kIdRelease1ServerLabel, 5, 90, 228, 30, false, "Ordex Server Name:", nullptr},
    {UI_KindLabel, kIdRelease1DatabaseLabel, 5, 130, 228, 30, false,
     "Administrator Database Filename:", nullptr},
    {UI_KindStringEditor, kIdRelease1Server, 230, 90, 330, 23, true, nullptr, nullptr},
    {UI_KindStringEditor, kIdRelease1Database, 230, 130, 330, 23, true, nullptr, nullptr},
    kEnd};

const UI_ButtonDescriptor kSnmpButtons[] = {
    {kIdSnmpNone, 20, 41, 465, 26, "None - Do not allow SNMP Management of Tarnway"},
    {kIdSnmpQuery, 20, 97, 465, 26,
     "Query Only - Only allow Management stations to observe Tarnway Status"},
    {kIdSnmpFull, 20, 153, 465, 26,
     "Full - Allow Management stations to control this Tarnway Server"},
    {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kPage4[] = {
    {UI_KindExOrGroup, kIdSnmpGroup, 10, 10, 555, 220, true, "SNMP Support", kSnmpButtons}, kEnd};

const UI_ButtonDescriptor kTranslateButtons[] = {
    {kIdTranslateOff, 20, 43, 465, 26, "Disabled - All text data is in compatible character sets"},
    {kIdTranslateQmbcs, 20, 98, 465, 26,
     "QMBCS only - All non-Ordex data is in compatible character sets"},
    {kIdTranslateOn, 20, 153, 465, 26,
     "Enabled - Always translate between different character sets"},
    {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kPage5[] = {
    {UI_KindExOrGroup, kIdTranslateGroup, 10, 10, 555, 220, true, "International Text Translation",
     kTranslateButtons},
    {UI_KindLabel, kIdTranslateHelp, 35, 255, 495, 60, false,
     "If you are unfamiliar with these choices, you are urged to consult\n"
     "the Tarnway Users Guide for more information.  These settings\n"
     "impact performance and may result in inaccurate data if not set appropriately.",
     nullptr},
    kEnd};

const UI_ChildDescriptor kPage6[] = {
    {UI_KindLabel, kIdDirectoryHelp, 5, 10, 560, 50, false,
     "Enter the directory where Tarnway is to be installed.  If the directory does not "
     "exist, setup will create it.",
     nullptr},
    {UI_KindLabel, kIdDirectoryLabel, 5, 70, 140, 24, false, "Tarnway Directory:", nullptr},
    {UI_KindStringEditor, kIdDirectory, 150, 68, 420, 23, true, nullptr, nullptr},
    {UI_KindToggle, kIdSystemSettings, 5, 160, 555, 24, true,
     "Modify the system settings to ensure the proper operation of Tarnway.", nullptr},
    {UI_KindLabel, kIdSystemSettingsText, 23, 185, 541, 60, false, nullptr, nullptr},
    kEnd};

const UI_ChildDescriptor kPage7[] = {
    {UI_KindLabel, kIdSummaryText, 10, 10, 555, 340, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor kPage8[] = {
    {UI_KindTextEditor, kIdProgress, 10, 10, 555, 340, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor kPage9[] = {
    {UI_KindBitmapButton, kIdRemoveCluster, 5, 30, 60, 50, true, nullptr,
     Picture(WizardPicture::removeCluster)},
    {UI_KindLabel, kIdRemoveClusterText, 70, 30, 495, 50, false, nullptr, nullptr},
    {UI_KindBitmapButton, kIdRemoveMember, 5, 95, 60, 50, true, nullptr,
     Picture(WizardPicture::removeServer)},
    {UI_KindLabel, kIdRemoveMemberText, 70, 95, 495, 50, false, nullptr, nullptr},
    {UI_KindBitmapButton, kIdMigrateChoice, 5, 160, 60, 50, true, nullptr,
     Picture(WizardPicture::migrate)},
    {UI_KindLabel, kIdMigrateChoiceText, 70, 160, 495, 50, false, nullptr, nullptr},
    kEnd};

const UI_ButtonDescriptor kFilesButtons[] = {
    {kIdDeleteFiles, 27, 43, 465, 26, "Delete Tarnway Program Files"},
    {kIdKeepFiles, 27, 98, 465, 26, "Do Not Delete Tarnway Program Files"},
    {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kPage10[] = {
    {UI_KindLabel, kIdRemoveWarningText, 10, 10, 555, 160, false, nullptr, nullptr},
    {UI_KindExOrGroup, kIdProgramFilesGroup, 15, 170, 545, 160, true, "Program Files",
     kFilesButtons},
    kEnd};

const UI_ChildDescriptor kPage11[] = {
    {UI_KindLabel, kIdRemoveConfirmText, 10, 10, 555, 340, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor kPage12[] = {
    {UI_KindLabel, kIdClientTerms, 10, 10, 555, 340, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor kPage13[] = {
    {UI_KindLabel, kIdBetaText, 10, 10, 555, 340, false, nullptr, nullptr}, kEnd};

const UI_ChildDescriptor* const kPages[] = {kPage0,  kInstallChoicesPage,
                                            kPage2,  kPage3,
                                            kPage4,  kPage5,
                                            kPage6,  kPage7,
                                            kPage8,  kPage9,
                                            kPage10, kPage11,
                                            kPage12, kPage13,
                                            nullptr};

constexpr char kIndent[] = "      ";

std::string WelcomeText() {
  return std::string("Quendal Tarnway Release 2.0\n\n\n") +
         "Welcome to the Quendal Tarnway Setup program.  This program allows" + " " +
         "you to install or remove Tarnway on your server or workstation computer.\n\n" +
         "Click Quit to quit Setup.  Click Next to continue with the Setup program.\n\n\n\n" +
         "Tarnway is supplied under the terms of its licence agreement." + " " +
         "Copying or distributing it outside those terms is not permitted.";
}

constexpr char kClientTerms[] =
    "Tarnway Development Client\n\n"
    "The Development Client is supplied for building and testing activities and links that "
    "run on a licensed Tarnway Server.  It may be installed on any number of workstations of "
    "the licensee's organization; it may not be used to move production data.\n\n"
    "Press I ACCEPT to agree to these terms and continue, Previous to choose again, or Quit "
    "to leave Setup.";

// The widest line of the pages: the font is the largest that keeps it within the dialog.
constexpr char kWidestLine[] =
    "      Use this option if you want to Delete the entire Tarnway Cluster, including";

}  // namespace

// ---------------------------------------------------------------- pages -------------------

WizardPage::WizardPage(SetupWizard& dialog, const UI_ChildDescriptor* records, UI_Point origin)
    : dialog_(dialog), records_(records) {
  for (const UI_ChildDescriptor* r = records; r->kind != UI_KindEnd; ++r) {
    UI_ChildDescriptor d = *r;
    d.x += origin.XCoord();
    d.y += origin.YCoord();
    (void)dialog_.AddChild(d);
  }
}

void WizardPage::ShowAll(bool on) {
  for (const UI_ChildDescriptor* r = records_; r->kind != UI_KindEnd; ++r) {
    if (UI_VisualObject* c = dialog_.FindChild(r->id)) c->Show(on);
    // A group's buttons are children of the group object but windows of their own.
    if (r->kind == UI_KindExOrGroup || r->kind == UI_KindOrGroup)
      for (const auto* b = static_cast<const UI_ButtonDescriptor*>(r->extra); b && b->text; ++b)
        if (UI_VisualObject* g = dialog_.FindChild(r->id))
          for (UI_VisualObject* bc : g->Children())
            if (bc->Id() == b->id) bc->Show(on);
  }
}

void WizardPage::Show() {
  ShowAll(true);
}
void WizardPage::Hide() {
  ShowAll(false);
}

// ---------------------------------------------------------------- the wizard --------------

SetupWizard::SetupWizard(SetupContext& ctx)
    : UI_Dialog(nullptr, UI_Rectangle(15, 40, 575, 415), kWizardTitle, kButtons), ctx_(ctx) {
  // The wizard's own buttons close nothing: every button is navigation.
  RemoveCloseEvent(1, Event_Select);
  RemoveCloseEvent(2, Event_Select);
  ChooseWizardFont();
  shownPage = nullptr;
  int n = 0;
  for (; kPages[n] != nullptr; ++n) {
    pages[size_t(n)] = std::make_unique<WizardPage>(*this, kPages[n], UI_Point(0, 0));
    pages[size_t(n)]->Hide();
  }
  lastPage = n - 1;
  ApplyFont(*this);

  SetText(kIdWelcomeText, WelcomeText());
  SetText(kIdNewClusterText,
          std::string("Create a new Tarnway Cluster and install the first Tarnway Server\n") +
              kIndent +
              "Use this option if this is the first Tarnway Server in your organization.");
  SetText(kIdAddServerText,
          std::string("Install Additional Tarnway Server in an existing Cluster\n") + kIndent +
              "Use this option if this Server will use a previously installed Administrator\n" +
              kIndent + "database.");
  SetText(kIdAddClientText,
          std::string("Install a new Tarnway Development Client in an existing Cluster\n") +
              kIndent + "Use this option to add a Development Client that will use a previously\n" +
              kIndent + "installed Administrator database.");
  SetText(kIdRemoveClusterText,
          std::string("Remove the Tarnway Cluster\n") + kIndent +
              "Use this option if you want to Delete the entire Tarnway Cluster, including\n" +
              kIndent + "the Administrator and Log databases from the Ordex Server.");
  SetText(kIdMigrateChoiceText,
          std::string("Migrate a Tarnway Release 1 Administrator Database\n") + kIndent +
              "Use this option if you want to upgrade and insert the contents of a Release 1\n" +
              kIndent + "Administrator database into your current Release 2 Administrator.");
  SetText(kIdClientTerms, kClientTerms);
  // Paragraphs read from the left; short captions keep the labels' centred default.
  for (long id : {kIdWelcomeText, kIdDirectoryHelp, kIdNewClusterText, kIdAddServerText,
                  kIdSummaryText, kIdRemoveClusterText, kIdRemoveMemberText, kIdRemoveWarningText,
                  kIdAddClientText, kIdRemoveConfirmText, kIdRelease1Title, kIdSystemSettingsText,
                  kIdClientTerms, kIdMigrateChoiceText, kIdBetaText})
    if (UI_Label* l = LabelAt(id)) (void)l->SetAlignment(UI_Label::AlignLeft);
  SetText(kIdMemberNameLabel, "Tarnway  Name:");
  if (UI_ExOrButtonGroup* g = GroupAt(kIdProgramFilesGroup)) (void)g->Select(kIdDeleteFiles);
  SetText(kIdAdminDatabase, "QTWADM.ODB");
  SetText(kIdLogDatabase, "QTWLOG.ODB");
  SetText(kIdVaultDatabase, "QTWVLT.ODB");
  SetText(kIdDocDatabase, "QTW20DOC.ODB");

  currentPage = kPageWelcome;
  SetText(kIdPrevious, kPreviousText);
  SetText(kIdNext, kNextText);
  SetText(kIdQuit, kQuitText);

  // An installation directory that is not absolute (a twmain.ini written by hand) is no
  // place to act on: the kit's own directory, and its twmain.ini, stand instead.
  const char* dir = TWFileExeDir();
  (void)SetField(ctx_.installDir, dir && dir[0] == '/' ? dir : ctx_.setupDir);
  SetText(kIdDirectory,
          SetupDirIsReadOnly() ? std::string(kFallbackInstallDir) : std::string(ctx_.setupDir));
  if (DetectInstallation()) ShowPage(currentPage);
}

SetupWizard::~SetupWizard() = default;

bool SetupWizard::MakeVisualElement() {
  if (!UI_Dialog::MakeVisualElement()) return false;
  return SetTitle(kWizardTitle);
}

void SetupWizard::ChooseWizardFont() {
  UI_ChildDescriptor probe = {UI_KindLabel, kIdFontProbe, 0, 0, 2, 2, false, nullptr, nullptr};
  (void)AddChild(probe);
  if (UI_VisualObject* p = FindChild(kIdFontProbe)) p->Show(false);
  char name[201] = "";
  uint32_t length = sizeof name - 1;
  std::string wanted = TWPlatGetEnv("TWSETUPFONT", name, &length) == 0 ? name : "";
  if (wanted.empty()) wanted = "Arial";
  // The face the display gives for the name, else the first listed face that contains it.
  // A face the display lacks is expected here: the library's warning about it is held back.
  struct Quiet {
    CL_ErrorHandler old = CL_Error::SetWarningHandler([](const char*) { return true; });
    ~Quiet() { CL_Error::SetWarningHandler(old); }
  } quiet;
  std::string face;
  UI_Font asked(wanted.c_str(), 2, 0);
  if (std::string(asked.TypeFace().AsPtr()).find(wanted) != std::string::npos) {
    face = asked.TypeFace().AsPtr();
  } else {
    for (const UI_FontInfo& f : UI_Font::EnumerateFonts())
      if (std::string(f.TypeFace().AsPtr()).find(wanted) != std::string::npos) {
        face = f.TypeFace().AsPtr();
        break;
      }
  }
  if (face.empty()) return;  // the library's default font
  UI_Font measure(face.c_str(), 2, 0);
  const short size = WizardFontSize([&](short points) {
    (void)measure.PointSize(points);
    return long(measure.Width(kWidestLine));
  });
  if (size > 0) dialogFont_ = std::make_unique<UI_FontDesc>(face.c_str(), size, 0);
}

void SetupWizard::ApplyFont(UI_VisualObject& o) {
  if (!dialogFont_) return;
  for (UI_VisualObject* c : o.Children()) {
    if (c->Id() != kIdFontProbe) (void)c->SetFont(*dialogFont_);
    ApplyFont(*c);
  }
}

void SetupWizard::SetMemberPicture(bool client) {
  auto* b = dynamic_cast<UI_BitmapPushButton*>(FindChild(kIdRemoveMember));
  if (b && b->Bitmap()->BuildFrom(WizardPictureData(client ? WizardPicture::removeClient
                                                           : WizardPicture::removeServer)))
    (void)b->BitmapChanged();
}

void SetupWizard::ShowPage(int page) {
  if (page < 0 || page > lastPage || pages[size_t(page)].get() == shownPage) return;
  switch (page) {
    case kPageWelcome:
    case kPageBetaUpgrade:
      EnableControl(kIdPrevious, false);
      EnableControl(kIdNext, true);
      break;
    case kPageInstallChoice:
    case kPageProgress:
    case kPageRemoveChoice:
      EnableControl(kIdPrevious, false);
      EnableControl(kIdNext, false);
      break;
    default:
      EnableControl(kIdPrevious, true);
      EnableControl(kIdNext, true);
      break;
  }
  if (shownPage) shownPage->Hide();
  shownPage = pages[size_t(page)].get();
  shownPage->Show();
  seen_[size_t(page)] = true;
  if (page == kPageDirectory) SetSystemSettingsText();
}

void SetupWizard::ShowRetryHint() {
  if (UI_StringEditor* e = EditorAt(kIdProgress))
    e->Text() =
        (std::string(e->Text().AsPtr()) + "\r\n\r\nPlease correct the situation and try again.")
            .c_str();
  EnableControl(kIdPrevious, true);
  EnableControl(kIdQuit, true);
}

void SetupWizard::AppendProgress(std::string_view text) {
  UI_StringEditor* e = EditorAt(kIdProgress);
  if (!e) return;
  CL_String& t = e->Text();
  t = (std::string(t.AsPtr()) + SetupProgressText(text)).c_str();
  if (e->Handle()) {
    HWND h = twui::Hwnd(e->Handle());
    int n = GetWindowTextLengthW(h);
    SendMessageW(h, EM_SETSEL, WPARAM(n), LPARAM(n));
    SendMessageW(h, EM_SCROLLCARET, 0, 0);
  }
}

void SetupWizard::MakeProgressReadOnly() {
  if (UI_VisualObject* e = FindChild(kIdProgress); e && e->Handle())
    SendMessageW(twui::Hwnd(e->Handle()), EM_SETREADONLY, TRUE, 0);
}

void SetupWizard::RequestQuit() {
  UI_Controller::Instance().Quit(0);
}

void SetupWizard::ErrorBox(const std::string& text) {
  (void)UI_MessageBox(text.c_str(), kErrorTitle, Handle() ? this : nullptr, 0, 2);
}

void SetupWizard::OpenCredits() {
  UI_MessageBox("Tarnway Release 2.0\n\nBuilt by the Tarnway team.", "Credits",
                Handle() ? this : nullptr, 0, 0);
}

std::string SetupWizard::TextOf(long id) const {
  UI_VisualObject* c = FindChild(id);
  if (!c) return std::string();
  if (auto* l = dynamic_cast<UI_Label*>(c)) return l->Text().AsPtr();
  if (auto* e = dynamic_cast<UI_StringEditor*>(c)) return e->Text().AsPtr();
  return c->Title().AsPtr();
}

void SetupWizard::SetText(long id, std::string_view text) {
  UI_VisualObject* c = FindChild(id);
  if (!c) return;
  std::string s(text);
  if (auto* l = dynamic_cast<UI_Label*>(c))
    l->Text() = s.c_str();
  else if (auto* e = dynamic_cast<UI_StringEditor*>(c))
    e->Text() = s.c_str();
  else
    (void)c->SetTitle(s.c_str());
}

bool SetupWizard::Checked(long id) const {
  auto* t = dynamic_cast<UI_ToggleButton*>(FindChild(id));
  return t && t->State().Value() != 0;
}

void SetupWizard::SetChecked(long id, bool on) {
  if (auto* t = dynamic_cast<UI_ToggleButton*>(FindChild(id))) t->State() = on ? 1 : 0;
}

void SetupWizard::EnableControl(long id, bool on) {
  if (UI_VisualObject* c = FindChild(id)) (void)c->Enable(on);
}

}  // namespace tw::install::gui
