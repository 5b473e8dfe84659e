// The setup window: its variables, its event handlers and its methods. The
// handlers live here; the installation run and its methods in install/.
#pragma once

#include "form1/controls.h"
#include "platform/errors.h"
#include "platform/runtime.h"
#include "platform/window.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vk {

// The component list, in its fixed order.
inline constexpr std::array<std::u16string_view, 7> kComponents = {
    u"msvbvm60.dll", u"MSSTDFMT.DLL", u"shell32.dll", u"MSCOMCTL.OCX",
    u"MSCOMCTL.DEP", u"MSCOMCTL.SRG", u"wmp.dll"};

// The installed Chrome and the driver chosen for it.
struct BrowserVersion {
  Variant version;    // exactly as the registry gave it
  Text prefix;        // its first three characters
  Text driverAddress; // "" when no driver was found
  Text failedStep;    // why not, for the final texts; "" when found
};

class Form1 final : public WindowEvents {
public:
  Form1(Runtime& rt, Window& window) : rt_(rt), w_(window) {}

  // WindowEvents
  void load() override { Form_Load(); }
  void click(ControlId button) override;

  // Event handlers.
  void Form_Load();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

  // The window's own operations.
  Text GetDesktop();
  void dosyaIndir(Text& address, Text& path);
  void unzip();
  // What went wrong with what unzip handed the shell, "" when nothing:
  // chromedriver.exe at the top of the sibling folder with the size the
  // archive gives, and every other item there too.
  Text unpackingFailure();
  void CreateShortCut();
  void regVorlanComponents();

  // Window variables; they live as long as the window.
  int i = 0;
  int j = 0;
  Text sisDir;
  Text userPath;
  Text indirDosya;
  Text myUrl;
  Text myPath;
  std::int32_t isWillReg = 0;
  Text copyFromStr;
  Text copyToStr;
  Text regStr;
  Text compFile;
  // What failed since "Devam" was pressed, one line each, in order; the
  // final texts list them so no failure is announced as success.
  std::vector<Text> failedSteps;
  // What unzip asked the shell to copy; nothing when it never got so far.
  struct Unpacked {
    Text name;
    bool isFolder;
    Variant size;
  };
  std::optional<std::vector<Unpacked>> unpacked;

private:
  // The installation run's numbered steps, in their order.
  BrowserVersion chooseDriver();
  void makeFolderTree();
  void fetchDriver(const Text& address);
  void askConnectionSettings();
  void copyMissingComponents();
  void copyApplicationFiles(ErrorMode& mode);
  void checkDriverUnpacked(ErrorMode& mode);
  void writeFinalTexts(ErrorMode& mode);
  void showClosingButtons(ErrorMode& mode);
  void testBrowser(ErrorMode& mode);
  void startVorlan(ErrorMode& mode);
  // The failure the last statements met, if any, as a failed step.
  void recordFailure(ErrorMode& mode, const Text& step);

public:
  // The installed tree's folders and the sibling folder, named once.
  Text vorlanFolder() const { return userPath + u"\\Vorlan"; }
  Text programFilesFolder() const { return userPath + u"\\Vorlan\\prgDosyaları"; }
  Text siblingFolder() const { return rt_.appPath() + u"\\Vorlan-Grenvilta"; }

private:
  // Adds "<step> (Hata No: <number>)" to the failed steps.
  void failedStep(const Text& step, std::int32_t number) {
    failedSteps.push_back(step + u" (Hata No: " + vbaStrI4(number) + u")");
  }
  Text text(ControlId c) const { return w_.text(c); }
  void setText(ControlId c, const Text& t) { w_.setText(c, t); }

  Runtime& rt_;
  Window& w_;
  bool runStarted_ = false;
};

} // namespace vk
