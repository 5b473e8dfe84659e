#include "platform/posix/objects/objects.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace vk::posix {

namespace {

// A class is named by its programmatic identifier or by its class id.
enum class By { ProgId, ClassId };

struct Factory {
  By by;
  std::u16string_view id;
  ObjectRef (*make)(ObjectContext);
  // The interfaces a class named by id answers besides IUnknown and
  // IDispatch (by prog id the caller always asks for IDispatch).
  std::span<const std::u16string_view> interfaces;
};

constexpr std::u16string_view kUnknown = u"{00000000-0000-0000-C000-000000000046}";
constexpr std::u16string_view kDispatch = u"{00020400-0000-0000-C000-000000000046}";

// IShellDispatch up to IShellDispatch6.
constexpr std::u16string_view kShellInterfaces[] = {
    u"{D8F015C0-C278-11CE-A49E-444553540000}", u"{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}",
    u"{177160CA-BB5A-411C-841D-BD38FACDEAA0}", u"{EFD84B2D-4BCF-4298-BE25-EB542A59FBDA}",
    u"{866738B9-6CF2-4DE8-8767-F794EBE74F4E}", u"{286E6F1B-7113-4355-9562-96B7E9D64C54}"};
// The browser automation's own interface.
constexpr std::u16string_view kBrowserInterfaces[] = {u"{0277FC34-FD1B-4616-BB19-CC6284398AA5}"};

// What the machine offers; anything else fails with 429.
constexpr Factory kFactories[] = {
    {By::ProgId, u"MSXML2.XMLHTTP", makeXmlHttp, {}},
    {By::ProgId, u"ADODB.Stream", makeAdodbStream, {}},
    {By::ProgId, u"WScript.Shell", makeWScriptShell, {}},
    {By::ProgId, u"Scripting.FileSystemObject", makeFileSystemObject, {}},
    {By::ClassId, u"{13709620-C279-11CE-A49E-444553540000}", makeShellApplication,
     kShellInterfaces},
    {By::ClassId, u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}", makeBrowserAutomation,
     kBrowserInterfaces},
    {By::ClassId, u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}", makeBrowserAutomationFallback,
     kBrowserInterfaces},
};

const Factory& find(By by, const Text& id) {
  for (const Factory& f : kFactories)
    if (f.by == by && equalsIgnoreCase(f.id, id)) return f;
  throw RuntimeError(err::CannotCreateObject);
}

bool isHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", the only form IIDFromString takes.
bool isGuid(const Text& id) {
  if (id.size() != 38 || id.front() != u'{' || id.back() != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? id[i] != u'-' : !isHex(id[i])) return false;
  }
  return true;
}

} // namespace

ObjectRef createObjectByProgId(ObjectContext ctx, const Text& progId) {
  return find(By::ProgId, progId).make(ctx);
}

ObjectRef createObjectByClassId(ObjectContext ctx, const Text& classId, const Text& interfaceId) {
  // As the Windows layer: an id that does not parse or a class nobody
  // registered is 429, an interface the class lacks is E_NOINTERFACE's 430.
  const Factory& f = find(By::ClassId, classId);
  if (!isGuid(interfaceId)) throw RuntimeError(err::CannotCreateObject);
  const auto answers = [&](std::u16string_view iid) { return equalsIgnoreCase(iid, interfaceId); };
  if (!answers(kUnknown) && !answers(kDispatch) &&
      std::none_of(f.interfaces.begin(), f.interfaces.end(), answers))
    throw RuntimeError(err::NoAutomationInterface);
  return f.make(ctx);
}

} // namespace vk::posix
