// The user's desktop, where the application is installed, and its shortcut.
#include "form1/Form1.h"

namespace vk {

Text Form1::GetDesktop() {
  ObjectRef shell = rt_.rtcCreateObject2(u"WScript.Shell");
  return deref(shell).call(u"SpecialFolders", {u"Desktop"}).toText();
}

void Form1::CreateShortCut() {
  ObjectRef shell = rt_.rtcCreateObject2(u"WScript.Shell");
  const Text desktop = deref(shell).call(u"SpecialFolders", {u"Desktop"}).toText();
  // Run from the desktop itself: no shortcut (exact, case-sensitive test).
  if (rt_.appPath() == desktop) return;
  ObjectRef link = deref(shell).call(u"CreateShortCut", {desktop + u"\\Vorlan.lnk"}).toObject();
  link->put(u"Description", u"Vorlan");
  link->put(u"TargetPath", vorlanFolder() + u"\\Vorlan.exe");
  link->call(u"Save", {});
}

} // namespace vk
