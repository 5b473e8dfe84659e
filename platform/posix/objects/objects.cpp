#include "platform/posix/objects/objects.h"

#include <string_view>

namespace vk::posix {

namespace {

struct ProgIdEntry {
  std::u16string_view progId;
  ObjectRef (*make)(ObjectContext);
};

// Filled in as the objects are built; an identifier not listed fails with 429.
constexpr ProgIdEntry kProgIds[] = {
    {u"", nullptr},
    {u"MSXML2.XMLHTTP", makeXmlHttp},
    {u"ADODB.Stream", makeAdodbStream},
    {u"WScript.Shell", makeWScriptShell},
    {u"Scripting.FileSystemObject", makeFileSystemObject},
};

struct ClassEntry {
  std::u16string_view classId;
  ObjectRef (*make)(ObjectContext);
};

constexpr ClassEntry kClasses[] = {
    {u"", nullptr},
    {u"{13709620-C279-11CE-A49E-444553540000}", makeShellApplication},
    {u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}", makeBrowserAutomation},
    {u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}", makeBrowserAutomationFallback},
};

} // namespace

ObjectRef createObjectByProgId(ObjectContext ctx, const Text& progId) {
  for (const auto& e : kProgIds)
    if (e.make && equalsIgnoreCase(e.progId, progId)) return e.make(ctx);
  throw RuntimeError(err::CannotCreateObject);
}

ObjectRef createObjectByClassId(ObjectContext ctx, const Text& classId, const Text& interfaceId) {
  (void)interfaceId; // every object here answers all the interfaces its class has
  for (const auto& e : kClasses)
    if (e.make && equalsIgnoreCase(e.classId, classId)) return e.make(ctx);
  throw RuntimeError(err::CannotCreateObject);
}

} // namespace vk::posix
