#include "platform/posix/objects/objects.h"

#include <string_view>

namespace vk::posix {

namespace {

// A class is named by its programmatic identifier or by its class id.
enum class By { ProgId, ClassId };

struct Factory {
  By by;
  std::u16string_view id;
  ObjectRef (*make)(ObjectContext);
};

// What the machine offers; anything else fails with 429.
constexpr Factory kFactories[] = {
    {By::ProgId, u"MSXML2.XMLHTTP", makeXmlHttp},
    {By::ProgId, u"ADODB.Stream", makeAdodbStream},
    {By::ProgId, u"WScript.Shell", makeWScriptShell},
    {By::ProgId, u"Scripting.FileSystemObject", makeFileSystemObject},
    {By::ClassId, u"{13709620-C279-11CE-A49E-444553540000}", makeShellApplication},
    {By::ClassId, u"{0277FC34-FD1B-4616-BB19-5D556733E8C9}", makeBrowserAutomation},
    {By::ClassId, u"{0277FC34-FD1B-4616-BB19-E3CCFFAB4234}", makeBrowserAutomationFallback},
};

ObjectRef create(ObjectContext ctx, By by, const Text& id) {
  for (const Factory& f : kFactories)
    if (f.by == by && equalsIgnoreCase(f.id, id)) return f.make(ctx);
  throw RuntimeError(err::CannotCreateObject);
}

} // namespace

ObjectRef createObjectByProgId(ObjectContext ctx, const Text& progId) {
  return create(ctx, By::ProgId, progId);
}

ObjectRef createObjectByClassId(ObjectContext ctx, const Text& classId, const Text& interfaceId) {
  (void)interfaceId; // every object here answers all the interfaces its class has
  return create(ctx, By::ClassId, classId);
}

} // namespace vk::posix
