// Copies the components of the program-files folder into the system folder
// and registers the libraries and controls among them, each on the user's word.
#include "form1/Form1.h"
#include "install/install.h"

#include <algorithm>

namespace vk {

namespace {

// Only the component list's own files go into the system folder: the
// version record, or whatever the user keeps beside them, never does.
bool isComponent(const Text& name) {
  return std::any_of(kComponents.begin(), kComponents.end(),
                     [&](std::u16string_view c) { return equalsIgnoreCase(c, name); });
}

} // namespace

void Form1::regVorlanComponents() {
  ErrorMode mode;
  const Text folder = programFilesFolder() + u"\\";

  // Pass 1: copy. The presence test starts listings of its own, so the
  // folder's names are gathered first.
  std::vector<Text> names;
  for (compFile = rt_.rtcDir(folder, vbNormal); compFile != u""; compFile = rt_.rtcDir())
    names.push_back(compFile);
  bool refused = false;
  for (const Text& name : names) {
    if (!isComponent(name)) continue;
    copyFromStr = folder + name;
    copyToStr = u"C:\\Windows\\" + sisDir + name;
    // A file the system folder already holds is never replaced: ours may be
    // older than the system's own. A refused copy (no administrator rights,
    // a file in use) is named, and the others are still tried.
    try {
      if (rt_.rtcDir(copyToStr, vbHidden | vbSystem | vbDirectory) == u"")
        rt_.rtcFileCopy(copyFromStr, copyToStr);
    } catch (const RuntimeError& e) {
      failedStep(name + u" kaydı", e.number());
      refused = true;
    }
  }
  // Registering what did not reach the system folder cannot work.
  if (refused) return;

  // Pass 2: register, one question per library or control.
  mode([&] { compFile = rt_.rtcDir(folder, vbNormal); });
  while (compFile != u"") {
    const Text ending = rtcUpperCaseVar(rtcRightCharVar(compFile, 3));
    // Only the components themselves: a library of the user's beside them
    // is not in the system folder to register.
    if ((ending == u"DLL" || ending == u"OCX") && isComponent(compFile)) {
      mode([&] { rt_.rtcMsgBox(u"Registering işlemleri başlatılıyor ...", vbOKOnly); });
      // Quoted, so a blank cannot split the path nor a name add arguments.
      regStr = Text(kRegsvr32) + u" /s \"C:\\Windows\\" + sisDir + compFile + u"\"";
      mode([&] {
        isWillReg = rt_.rtcMsgBox(compFile + u" Register edilsin mi ? (EVET önerilir)",
                                  vbYesNo | vbQuestion | vbDefaultButton2, kMessageTitle);
      });
      if (isWillReg == vbYes) {
        mode.onErrorResumeNext();
        mode([&] { rt_.rtcShell(regStr, vbMinimizedFocus); });
      }
      // From the first Yes on, a failure is skipped but named, once per file.
      if (auto e = mode.takeError()) failedStep(compFile + u" kaydı", e->number());
    }
    if (!mode([&] { compFile = rt_.rtcDir(); })) break;
  }
  mode.takeError();
  mode([&] { rt_.rtcMsgBox(u"Registering işlemleri tamamlandı ...", vbOKOnly); });
}

} // namespace vk
