// Copies the components of the program-files folder into the system folder
// and registers the libraries and controls among them, each on the user's word.
#include "form1/Form1.h"

#include <vector>

namespace vk {

void Form1::regVorlanComponents() {
  ErrorMode mode;
  const Text folder = userPath + u"\\Vorlan\\prgDosyaları\\";

  // Pass 1: copy. The presence test starts listings of its own, so the
  // folder's names are gathered first.
  std::vector<Text> names;
  for (compFile = rt_.rtcDir(folder, vbNormal); compFile != u""; compFile = rt_.rtcDir())
    names.push_back(compFile);
  for (const Text& name : names) {
    copyFromStr = folder + name;
    copyToStr = u"C:\\Windows\\" + sisDir + name;
    // A file the system folder already holds is never replaced: ours may be
    // older than the system's own.
    if (rt_.rtcDir(copyToStr, vbHidden | vbSystem | vbDirectory) == u"")
      rt_.rtcFileCopy(copyFromStr, copyToStr);
  }

  // Pass 2: register, one question per library or control.
  mode([&] { compFile = rt_.rtcDir(folder, vbNormal); });
  while (compFile != u"") {
    const Text ending = rtcUpperCaseVar(rtcRightCharVar(compFile, 3));
    if (ending == u"DLL" || ending == u"OCX") {
      mode([&] { rt_.rtcMsgBox(u"Registering işlemleri başlatılıyor ...", vbOKOnly); });
      // Quoted, so a blank cannot split the path nor a name add arguments.
      regStr = u"regsvr32 /s \"C:\\Windows\\" + sisDir + compFile + u"\"";
      mode([&] {
        isWillReg = rt_.rtcMsgBox(compFile + u" Register edilsin mi ? (EVET önerilir)",
                                  vbYesNo | vbQuestion | vbDefaultButton2, kMessageTitle);
      });
      if (isWillReg == vbYes) {
        mode.onErrorResumeNext();
        mode([&] { rt_.rtcShell(regStr, vbMinimizedFocus); });
      }
    }
    if (!mode([&] { compFile = rt_.rtcDir(); })) break;
  }
  mode([&] { rt_.rtcMsgBox(u"Registering işlemleri tamamlandı ...", vbOKOnly); });
}

} // namespace vk
