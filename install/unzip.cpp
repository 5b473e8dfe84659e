// Unpacks the downloaded driver archive beside itself through the shell.
#include "form1/Form1.h"

namespace vk {

namespace {
constexpr char16_t kShellApplication[] = u"{13709620-C279-11CE-A49E-444553540000}";
constexpr char16_t kShellDispatch6[] = u"{286E6F1B-7113-4355-9562-96B7E9D64C54}";
constexpr std::int16_t kSimpleProgress = 256;
} // namespace

void Form1::unzip() {
  const Text archivePath = siblingFolder() + u"\\" + indirDosya;
  const Text destinationPath = siblingFolder() + u"\\";
  ObjectRef shell = rt_.createObject(kShellApplication, kShellDispatch6);
  const Variant archive = deref(shell).call(u"NameSpace", {archivePath});
  const Variant destination = shell->call(u"NameSpace", {destinationPath});
  if (!archive.isObject() || !std::get<ObjectRef>(archive.value())) {
    // No archive arrived: say which file is missing instead of ending the
    // program on an object error.
    rt_.rtcMsgBox(u"Sürücü arşivi bulunamadı: " + archivePath, vbInformation, kMessageTitle);
    return;
  }
  Variant items = archive.toObject()->get(u"Items");
  // Newer driver archives hold one folder and nothing else (which may hold
  // one folder again): the items under it go into the sibling folder, so
  // chromedriver.exe lies where older archives put it.
  for (ObjectRef top = items.toObject(); top->get(u"Count").toInt32() == 1;) {
    const ObjectRef only = top->call(u"Item", {std::int32_t{0}}).toObject();
    if (!only->get(u"IsFolder").toBool()) break;
    items = only->get(u"GetFolder").toObject()->get(u"Items");
    top = items.toObject();
  }
  destination.toObject()->call(u"CopyHere", {items, kSimpleProgress});

  // What the shell was asked to copy, for the check at the end of the run:
  // the shell may still be copying now. The name is the last step of the
  // item's path, since Name may hide an extension.
  unpacked.emplace();
  const ObjectRef list = items.toObject();
  for (std::int32_t k = 0, n = list->get(u"Count").toInt32(); k < n; ++k) {
    const ObjectRef item = list->call(u"Item", {k}).toObject();
    const Text path = item->get(u"Path").toText();
    unpacked->push_back({path.substr(path.find_last_of(u'\\') + 1), item->get(u"IsFolder").toBool(),
                         item->get(u"Size")});
  }
}

Text Form1::unpackingFailure() {
  constexpr char16_t kNoDriver[] = u"Sürücü arşivinin açılması (chromedriver.exe bulunamadı)";
  ObjectRef shell = rt_.createObject(kShellApplication, kShellDispatch6);
  const ObjectRef sibling = deref(shell).call(u"NameSpace", {siblingFolder() + u"\\"}).toObject();
  // Each item as the archive has it, by its name in the sibling folder.
  const auto arrived = [&](const Unpacked& u) {
    const Variant found = sibling->call(u"ParseName", {u.name});
    if (!found.isObject() || !std::get<ObjectRef>(found.value())) return false;
    const ObjectRef item = found.toObject();
    return item->get(u"IsFolder").toBool() == u.isFolder &&
           (u.isFolder || vbaVarTstEq(item->get(u"Size"), u.size));
  };
  // The driver is what the run is for: it must be a file at the top, and
  // the archive's own; one an earlier run left never counts.
  bool driver = false;
  bool rest = true;
  for (const Unpacked& u : unpacked.value_or(std::vector<Unpacked>{})) {
    const bool ok = arrived(u);
    if (rtcUpperCaseVar(u.name) == u"CHROMEDRIVER.EXE")
      driver = !u.isFolder && ok;
    else
      rest = rest && ok;
  }
  if (!driver) return kNoDriver;
  return rest ? Text() : Text(u"Sürücü arşivinin açılması");
}

} // namespace vk
