#include "platform/posix/machine/entry_path.h"

#include "platform/posix/machine/machine.h"

#include <algorithm>

namespace vk::posix {

namespace {

// What Windows' own name checks turn away. "a:b" would even write a stream
// of the file "a" there; "trail." would become "trail".
bool refusedByWindows(TextView part) {
  if (part.back() == u'.' || part.back() == u' ') return true;
  if (std::any_of(part.begin(), part.end(), refusedInFileNames)) return true;
  // Device names stay devices with any extension, and blanks before it.
  TextView base = part.substr(0, part.find(u'.'));
  base = base.substr(0, base.find_last_not_of(u' ') + 1);
  Text upper;
  for (char16_t c : base)
    upper += upperChar(c);
  for (TextView device : {u"CON", u"PRN", u"AUX", u"NUL"})
    if (upper == device) return true;
  // COM1 to COM9 and LPT1 to LPT9, the superscript digits included.
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
         ((upper[3] >= u'1' && upper[3] <= u'9') ||
          TextView(u"\u00B9\u00B2\u00B3").find(upper[3]) != TextView::npos);
}

} // namespace

EntryPath judge(const Text& name) {
  EntryPath p;
  // Windows takes "\" as a separator and "X:" as a drive, wherever the
  // archive was made.
  if (!name.empty() && (name[0] == u'/' || name[0] == u'\\')) {
    p.verdict = EntryPath::Verdict::Absolute;
    return p;
  }
  Text part;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == u'/' || name[i] == u'\\') {
      if (part == u"..") {
        p.verdict = EntryPath::Verdict::Outside;
        return p;
      }
      if (part.empty() || part == u".") {
        part.clear();
        continue;
      }
      // A drive as the first step, after any "." steps too ("./C:/x").
      if (p.parts.empty() && part.size() >= 2 && part[1] == u':') {
        p.verdict = EntryPath::Verdict::Absolute;
        return p;
      }
      if (refusedByWindows(part)) p.verdict = EntryPath::Verdict::Refused;
      p.parts.push_back(part);
      part.clear();
    } else {
      part += name[i];
    }
  }
  if (p.parts.empty()) p.verdict = EntryPath::Verdict::Empty;
  return p;
}

} // namespace vk::posix
