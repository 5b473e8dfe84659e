#include "contract/contract.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace vk::contract {

void Check::that(bool ok, std::string_view what) {
  if (ok)
    ++passed_;
  else
    failures_.emplace_back(what);
}

void Check::eq(std::int64_t got, std::int64_t want, std::string_view what) {
  that(got == want,
       std::string(what) + ": got " + std::to_string(got) + ", want " + std::to_string(want));
}

void Check::eq(const Text& got, const Text& want, std::string_view what) {
  that(got == want, std::string(what) + ": got [" + toUtf8(got) + "], want [" + toUtf8(want) + "]");
}

void Check::eq(const std::vector<Text>& got, const std::vector<Text>& want, std::string_view what) {
  auto join = [](const std::vector<Text>& names) {
    std::string s;
    for (const Text& n : names) {
      if (!s.empty()) s += ' ';
      s += toUtf8(n);
    }
    return s;
  };
  that(got == want, std::string(what) + ": got [" + join(got) + "], want [" + join(want) + "]");
}

bool Check::wineGap(std::string_view name, bool gapShows) {
  // A gap that no longer shows is news: the list of gaps must stay true.
  if (onWine_ && !gapShows) fail("gap closed: " + std::string(name));
  if (!onWine_ || !gapShows) return false;
  ++passed_;
  gaps_.emplace_back(name);
  return true;
}

void runCase(const Case& c, Fixture& fixture, Check& check) {
  try {
    c.run(fixture, check);
  } catch (const RuntimeError& e) {
    check.fail("unexpected run-time error " + std::to_string(e.number()) + ": " + e.what());
  } catch (const std::exception& e) {
    check.fail(std::string("unexpected exception: ") + e.what());
  } catch (const ProgramEnd&) {
    check.fail("unexpected end of the program");
  }
}

namespace {

template <class F> std::optional<RuntimeError> errorOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e;
  }
  return std::nullopt;
}

// The run-time error number f fails with; 0 when it succeeds.
template <class F> std::int64_t errorNumber(F&& f) {
  const auto e = errorOf(std::forward<F>(f));
  return e ? e->number() : 0;
}

// Every name a listing gives, sorted: Windows gives them in the file
// system's order, which the contract leaves open.
std::vector<Text> listAll(Runtime& rt, const Text& pattern, int mask) {
  std::vector<Text> names;
  for (Text name = rt.rtcDir(pattern, mask); !name.empty(); name = rt.rtcDir())
    names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

// --- Listing ---------------------------------------------------------------

void dirMasks(Fixture& f, Check& c) {
  f.writeFile(u"D:\\L\\a.txt", "a");
  f.writeFile(u"D:\\L\\h.txt", "h");
  f.writeFile(u"D:\\L\\s.txt", "s");
  f.makeDir(u"D:\\L\\sub");
  f.setHidden(u"D:\\L\\h.txt");
  f.setSystem(u"D:\\L\\s.txt");
  const struct {
    int mask;
    std::vector<Text> want;
  } rows[] = {
      {vbNormal, {u"a.txt"}},
      {vbHidden, {u"a.txt", u"h.txt"}},
      {vbSystem, {u"a.txt", u"s.txt"}},
      {vbDirectory, {u"a.txt", u"sub"}},
      {vbHidden | vbSystem | vbDirectory, {u"a.txt", u"h.txt", u"s.txt", u"sub"}},
  };
  for (const auto& row : rows)
    c.eq(listAll(f.runtime(), u"D:\\L\\*", row.mask), row.want, "mask " + std::to_string(row.mask));
}

void dirWildcards(Fixture& f, Check& c) {
  for (const char16_t* name : {u"D:\\W\\a.txt", u"D:\\W\\ab.txt", u"D:\\W\\b.log", u"D:\\W\\Oku"})
    f.writeFile(name, "x");
  const std::vector<Text> all{u"Oku", u"a.txt", u"ab.txt", u"b.log"};
  const struct {
    const char16_t* pattern;
    std::vector<Text> want;
    const char* wineGap = nullptr; // what Wine gives instead: every name
  } rows[] = {
      {u"D:\\W\\*.txt", {u"a.txt", u"ab.txt"}},
      {u"D:\\W\\?.txt", {u"a.txt"}},
      {u"D:\\W\\*.LOG", {u"b.log"}},
      {u"D:\\W\\a*", {u"a.txt", u"ab.txt"}},
      {u"D:\\W\\*.*", all},
      {u"D:\\W\\*.", {u"Oku"}, "FindFirstFileW: \"*.\" matches names with an extension too"},
      {u"D:\\W\\", all},
      {u"D:\\W\\B.LOG", {u"b.log"}},
      {u"D:\\W\\yok*", {}},
      {u"D:\\Yok\\*", {}},
  };
  for (const auto& row : rows) {
    const std::vector<Text> got = listAll(f.runtime(), row.pattern, vbNormal);
    if (row.wineGap && c.wineGap(row.wineGap, got == all)) continue;
    c.eq(got, row.want, toUtf8(row.pattern));
  }
}

void dirContinuation(Fixture& f, Check& c) {
  Runtime& rt = f.runtime();
  c.eq(errorNumber([&] { rt.rtcDir(); }), err::InvalidCall, "continuing before any listing");
  f.writeFile(u"D:\\C\\x1", "1");
  f.writeFile(u"D:\\C\\x2", "2");
  std::vector<Text> names{rt.rtcDir(u"D:\\C\\x*", vbNormal), rt.rtcDir()};
  std::sort(names.begin(), names.end());
  c.eq(names, {u"x1", u"x2"}, "the listing");
  c.eq(rt.rtcDir(), u"", "the end of the listing");
  c.eq(rt.rtcDir(), u"", "continuing after the end");
  // A new listing replaces the old one.
  c.eq(rt.rtcDir(u"D:\\C\\x2", vbNormal), u"x2", "a new listing");
  c.eq(rt.rtcDir(), u"", "its end");
}

void dirAfterFailure(Fixture& f, Check& c) {
  Runtime& rt = f.runtime();
  f.writeFile(u"D:\\C\\x1", "1");
  f.writeFile(u"D:\\C\\x2", "2");
  c.that(!rt.rtcDir(u"D:\\C\\x*", vbNormal).empty(), "a listing begun");
  c.eq(errorNumber([&] { rt.rtcDir(u"D:\\C\\a|b\\*", vbNormal); }), err::BadFileName,
       "a bad name fails");
  c.eq(rt.rtcDir(), u"", "the failed call left no listing to continue");
}

void dirUnknownDrive(Fixture& f, Check& c) {
  Text got = u"-";
  const std::int64_t e = errorNumber([&] { got = f.runtime().rtcDir(u"Q:\\*", vbNormal); });
  if (e == 0)
    c.eq(got, u"", "no entries on a drive that does not exist");
  else
    c.eq(e, err::BadFileName, "a drive that does not exist");
}

// --- Copying ---------------------------------------------------------------

void copyOk(Fixture& f, Check& c) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  f.writeFile(u"D:\\K\\b.txt", "old");
  f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\b.txt");
  c.that(f.readFile(u"D:\\K\\b.txt") == "new", "the destination replaced");
  f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\c.txt");
  c.that(f.readFile(u"D:\\K\\c.txt") == "new", "a new destination");
}

void copyMissingSource(Fixture& f, Check& c) {
  f.makeDir(u"D:\\K");
  const auto e = errorOf([&] { f.runtime().rtcFileCopy(u"D:\\K\\yok.txt", u"D:\\K\\b.txt"); });
  c.eq(e ? e->number() : 0, err::FileNotFound, "number");
  c.eq(e ? e->description() : Text(), u"Dosya bulunamadı", "text");
  c.that(!f.readFile(u"D:\\K\\b.txt"), "nothing written");
}

void copyMissingFolder(Fixture& f, Check& c) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  c.eq(errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\Yok\\b.txt"); }),
       err::PathNotFound, "number");
}

// The destination keeps its bytes when the copy is refused.
// wineGap: Wine's copy replaces the destination instead.
void copyRefused(Fixture& f, Check& c, void (Fixture::*mark)(const Text&), const char* wineGap) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  f.writeFile(u"D:\\K\\b.txt", "old");
  (f.*mark)(u"D:\\K\\b.txt");
  const auto number =
      errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\b.txt"); });
  const bool replaced = f.readFile(u"D:\\K\\b.txt") == "new";
  if (c.wineGap(wineGap, number == 0 && replaced)) return;
  c.eq(number, err::PermissionDenied, "number");
  c.that(!replaced, "the destination kept");
}

void copyReadOnlyDestination(Fixture& f, Check& c) {
  copyRefused(f, c, &Fixture::setReadOnly,
              "CopyFileW replaces a read-only destination when Wine runs as root");
}

void copyHiddenDestination(Fixture& f, Check& c) {
  copyRefused(f, c, &Fixture::setHidden, "CopyFileW replaces a hidden destination");
}

void copyOntoItself(Fixture& f, Check& c) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  c.eq(errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\A.TXT"); }),
       err::PermissionDenied, "number");
  c.that(f.readFile(u"D:\\K\\a.txt") == "new", "the file kept");
}

void copyOverRunningProgram(Fixture& f, Check& c) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  f.makeProgram(u"D:\\K\\run.exe");
  const double pid = f.runtime().rtcShell(u"D:\\K\\run.exe wait", vbNormalFocus);
  c.eq(errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\run.exe"); }),
       err::PermissionDenied, "number");
  f.endProgram(pid);
  c.that(f.readFile(u"D:\\K\\run.exe") != "new", "the program kept");
}

// A program that a started program started, and which outlives it, runs a
// file of its own: once the first has ended, its file can be replaced.
void copyOverAProgramThatLeftAHelper(Fixture& f, Check& c) {
  f.writeFile(u"D:\\K\\a.txt", "new");
  f.makeProgram(u"D:\\K\\run.exe");
  f.makeProgram(u"D:\\K\\helper.exe");
  f.runtime().rtcShell(u"D:\\K\\run.exe spawn", vbNormalFocus);
  std::optional<std::string> helper;
  for (int i = 0; i < 100 && !(helper = f.readFile(u"D:\\K\\pid.txt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  c.that(helper.has_value(), "the helper started");
  std::int64_t number = -1;
  for (int i = 0; i < 100 && number != 0; ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    number = errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\K\\a.txt", u"D:\\K\\run.exe"); });
  }
  c.eq(number, 0, "the first program's file replaced while the helper runs");
  if (helper) f.endProgram(std::stod(*helper));
}

// Windows normalizes a path before it looks at the disk: a step's single
// trailing period goes, and so do the path's own trailing periods and blanks.
void trailingDotsAndBlanks(Fixture& f, Check& c) {
  Runtime& rt = f.runtime();
  rt.rtcMakeDir(u"D:\\Nokta. ");
  c.eq(listAll(rt, u"D:\\N*", vbDirectory), {u"Nokta"}, "the folder made");
  f.writeFile(u"D:\\a.txt", "x");
  rt.rtcFileCopy(u"D:\\a.txt", u"D:\\Nokta.\\b.txt. ");
  c.that(f.readFile(u"D:\\Nokta\\b.txt") == "x", "copied through the trailing period");
  c.eq(rt.rtcDir(u"D:\\Nokta.\\b.txt", vbNormal), u"b.txt", "found the same way");
}

// A name one character longer than any a folder may hold (255), in a path
// short enough for any Windows call (259 characters), is a bad file name to
// the copy and to MkDir alike (NTFS refuses the name), and nothing is made.
void namesTooLong(Fixture& f, Check& c) {
  f.writeFile(u"D:\\a.txt", "x");
  const Text path = u"D:\\" + Text(256, u'u');
  const auto copy = errorNumber([&] { f.runtime().rtcFileCopy(u"D:\\a.txt", path); });
  const auto made = errorNumber([&] { f.runtime().rtcMakeDir(path); });
  if (!c.wineGap("a name too long is a missing file",
                 copy == err::FileNotFound && made == err::FileNotFound)) {
    c.eq(copy, err::BadFileName, "FileCopy");
    c.eq(made, err::BadFileName, "MkDir");
  }
  c.eq(listAll(f.runtime(), u"D:\\u*", vbDirectory), {}, "nothing made");
}

// --- Making folders ----------------------------------------------------------

void makeDirFaults(Fixture& f, Check& c) {
  f.makeDir(u"D:\\M");
  f.writeFile(u"D:\\F.txt", "x");
  const struct {
    const char16_t* path;
    std::int64_t want;
  } rows[] = {
      {u"D:\\M", err::PathFileAccess},        // exists
      {u"D:\\Yok\\Alt", err::PathNotFound},   // missing parent
      {u"D:\\F.txt", err::PathFileAccess},    // a file of that name
      {u"D:\\F.txt\\Alt", err::PathNotFound}, // a file where the parent should be
      {u"D:\\M\\Yeni", 0},
  };
  for (const auto& row : rows)
    c.eq(errorNumber([&] { f.runtime().rtcMakeDir(row.path); }), row.want, toUtf8(row.path));
  c.eq(f.runtime().rtcDir(u"D:\\M\\Yeni", vbDirectory), u"Yeni", "the new folder");
}

void makeDirBadName(Fixture& f, Check& c) {
  c.eq(errorNumber([&] { f.runtime().rtcMakeDir(u"D:\\a|b"); }), err::BadFileName,
       "a character no name may have");
}

// --- Starting programs -------------------------------------------------------

void shellFailures(Fixture& f, Check& c) {
  f.writeFile(u"D:\\S\\metin.exe", "no program, only text\r\n");
  const struct {
    const char16_t* line;
    std::int64_t want;
    const char* wineGap = nullptr; // Wine fails with err::FileNotFound instead
  } rows[] = {
      {u"D:\\S\\yok.exe", err::FileNotFound},
      {u"D:\\Yok\\p.exe", err::PathNotFound,
       "CreateProcessW reports a missing folder as a missing file"},
      {u"D:\\S\\metin.exe", err::InvalidCall},
  };
  for (const auto& row : rows) {
    const auto got = errorNumber([&] { f.runtime().rtcShell(row.line, vbNormalFocus); });
    if (row.wineGap && c.wineGap(row.wineGap, got == err::FileNotFound)) continue;
    c.eq(got, row.want, toUtf8(row.line));
  }
}

void shellStyles(Fixture& f, Check& c) {
  f.makeProgram(u"D:\\S\\p.exe");
  for (int style : {0, 1, 2, 3, 4, 6}) {
    double pid = 0;
    c.eq(errorNumber([&] { pid = f.runtime().rtcShell(u"D:\\S\\p.exe wait", style); }), 0,
         "style " + std::to_string(style));
    if (pid > 0) f.endProgram(pid);
  }
  for (int style : {-1, 5, 7, 10})
    c.eq(errorNumber([&] { f.runtime().rtcShell(u"D:\\S\\p.exe wait", style); }), err::InvalidCall,
         "style " + std::to_string(style));
}

void shellWorkingFolder(Fixture& f, Check& c) {
  f.makeProgram(u"D:\\S\\p.exe");
  f.makeDir(u"D:\\Çalışma");
  f.setWorkingFolder(u"D:\\Çalışma");
  f.runtime().rtcShell(u"D:\\S\\p.exe cwd D:\\S\\cwd.txt", vbNormalFocus);
  const auto folder = f.recordedFolder(u"D:\\S\\cwd.txt");
  c.eq(folder.value_or(u"(nothing recorded)"), u"D:\\Çalışma", "the program's working folder");
}

// --- Message boxes -----------------------------------------------------------

void messageBoxes(Fixture& f, Check& c) {
  const struct {
    int buttons;
    int answer; // 0: the default button
    int want;
  } rows[] = {
      {vbYesNo | vbQuestion, vbYes, vbYes},   {vbYesNo | vbQuestion, vbNo, vbNo},
      {vbOKOnly | vbInformation, vbOK, vbOK}, {vbYesNo, 0, vbYes},
      {vbYesNo | vbDefaultButton2, 0, vbNo},  {vbOKOnly | vbCritical, 0, vbOK},
  };
  for (const auto& row : rows) {
    f.answerNextBox(row.answer);
    c.eq(f.runtime().rtcMsgBox(u"Devam edilsin mi?", row.buttons, Text(u"Sınama")), row.want,
         "buttons " + std::to_string(row.buttons) + " answered " + std::to_string(row.answer));
  }
}

// --- The application path ----------------------------------------------------

void appPath(Fixture& f, Check& c) {
  f.makeDir(u"D:\\Kurulum Ğ");
  c.eq(f.appPathIn(u"D:\\"), u"D:\\", "at a drive root");
  c.eq(f.appPathIn(u"D:\\Kurulum Ğ"), u"D:\\Kurulum Ğ", "in a folder");
}

// --- Error numbers and texts -------------------------------------------------

void errorTexts(Fixture& f, Check& c) {
  const RuntimeError e(err::PathNotFound);
  c.eq(e.number(), 76, "number");
  c.eq(e.description(), u"Yol bulunamadı", "text");
  for (const err::Row& row : err::kRows)
    c.eq(describeError(row.number), Text(row.text), "text of " + std::to_string(row.number));
  c.eq(describeError(1234), Text(err::kUnknownText), "a number without a row");
  // What the platform raises carries the table's text.
  const auto made = errorOf([&] { f.runtime().rtcMakeDir(u"D:\\Yok\\Alt"); });
  c.eq(made ? made->description() : Text(), u"Yol bulunamadı", "rtcMakeDir's error text");
}

// --- The window --------------------------------------------------------------

enum : ControlId { kLabel, kTextBox, kFirst, kSecond, kHiddenBox };

constexpr ControlSpec control(std::u16string_view name, ControlKind kind, int top,
                              std::u16string_view text, bool visible, bool multiLine, int tab) {
  const bool focusable = tab != kNoTabIndex;
  return {name,    -1,        kind,      120,       top, 3000, 300,     text,
          visible, multiLine, multiLine, focusable, tab, {},   nullptr, 0};
}

constexpr ControlSpec kControls[] = {
    control(u"Label1", ControlKind::Label, 120, u"Başlık", true, false, kNoTabIndex),
    control(u"Text1", ControlKind::TextBox, 480, u"Bir\r\nİki", true, true, 1),
    control(u"Command1", ControlKind::Button, 840, u"Devam", true, false, 0),
    control(u"Command2", ControlKind::Button, 1200, u"Çık", true, false, 2),
    control(u"Text2", ControlKind::TextBox, 1560, u"gizli", false, false, 3),
};
constexpr WindowSpec kWindow{u"Sınama penceresi", 3600, 2400, kControls};

void windowTexts(Fixture& f, Check& c) {
  const auto w = f.createWindow(kWindow);
  for (ControlId id = 0; id < std::size(kControls); ++id)
    c.eq(w->text(id), Text(kControls[id].text), "initial text of " + std::to_string(id));
  const Text turkish = u"Çığ öşü İı Ğğ Şş";
  for (ControlId id : {kLabel, kTextBox, kFirst, kHiddenBox}) {
    w->setText(id, turkish);
    c.eq(w->text(id), turkish, "text of " + std::to_string(id));
  }
  w->setText(kTextBox, u"Satır 1\r\nSatır 2");
  c.eq(w->text(kTextBox), u"Satır 1\r\nSatır 2", "lines of a multi-line box");
  w->setText(kLabel, u"");
  c.eq(w->text(kLabel), u"", "an emptied label");
}

void windowVisibility(Fixture& f, Check& c) {
  const auto w = f.createWindow(kWindow);
  for (ControlId id = 0; id < std::size(kControls); ++id)
    c.eq(w->visible(id), kControls[id].visible, "initially visible: " + std::to_string(id));
  for (ControlId id : {kLabel, kTextBox, kSecond}) {
    w->setVisible(id, false);
    c.eq(w->visible(id), false, "hidden: " + std::to_string(id));
    w->setVisible(id, true);
    c.eq(w->visible(id), true, "shown again: " + std::to_string(id));
  }
  w->setVisible(kHiddenBox, true);
  c.eq(w->visible(kHiddenBox), true, "a box created hidden, shown");
}

void windowFocus(Fixture& f, Check& c) {
  const auto w = f.createWindow(kWindow);
  c.eq(w->focus(), kFirst, "the first in tab order");
  w->setVisible(kFirst, false);
  c.eq(w->focus(), kTextBox, "hidden, it gives the focus to the next in tab order");
}

// A driver archive of the newer layout, made by Python's zipfile, stored:
// one folder and two files in it.
constexpr char kFolderZip[] = "\x50\x4b\x03\x04\x14\x00\x00\x00\x00\x00\x00\x00\x21\x58\x5d\x9b\xb0"
                              "\x8f\x02\x00\x00\x00\x02\x00"
                              "\x00\x00\x23\x00\x00\x00\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65"
                              "\x72\x2d\x77\x69\x6e\x33\x32"
                              "\x2f\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65\x72\x2e\x65\x78\x65"
                              "\x4d\x5a\x50\x4b\x03\x04\x14"
                              "\x00\x00\x00\x00\x00\x00\x00\x21\x58\x36\xe2\x68\xad\x01\x00\x00\x00"
                              "\x01\x00\x00\x00\x27\x00\x00"
                              "\x00\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65\x72\x2d\x77\x69\x6e"
                              "\x33\x32\x2f\x4c\x49\x43\x45"
                              "\x4e\x53\x45\x2e\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65\x72\x4c"
                              "\x50\x4b\x01\x02\x14\x03\x14"
                              "\x00\x00\x00\x00\x00\x00\x00\x21\x58\x5d\x9b\xb0\x8f\x02\x00\x00\x00"
                              "\x02\x00\x00\x00\x23\x00\x00"
                              "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x01\x00\x00\x00\x00\x63\x68"
                              "\x72\x6f\x6d\x65\x64\x72\x69"
                              "\x76\x65\x72\x2d\x77\x69\x6e\x33\x32\x2f\x63\x68\x72\x6f\x6d\x65\x64"
                              "\x72\x69\x76\x65\x72\x2e\x65"
                              "\x78\x65\x50\x4b\x01\x02\x14\x03\x14\x00\x00\x00\x00\x00\x00\x00\x21"
                              "\x58\x36\xe2\x68\xad\x01\x00"
                              "\x00\x00\x01\x00\x00\x00\x27\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                              "\x00\x80\x01\x43\x00\x00\x00"
                              "\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65\x72\x2d\x77\x69\x6e\x33"
                              "\x32\x2f\x4c\x49\x43\x45\x4e"
                              "\x53\x45\x2e\x63\x68\x72\x6f\x6d\x65\x64\x72\x69\x76\x65\x72\x50\x4b"
                              "\x05\x06\x00\x00\x00\x00\x02"
                              "\x00\x02\x00\xa6\x00\x00\x00\x89\x00\x00\x00\x00\x00";

bool isSomething(const Variant& v) {
  return v.isObject() && std::get<ObjectRef>(v.value()) != nullptr;
}

// The shell sees a .zip as a folder, and a folder inside it as a folder of
// its own, by its item or by path.
void shellZipFolders(Fixture& f, Check& c) {
  f.writeFile(u"D:\\Z\\d.zip", std::string_view(kFolderZip, sizeof kFolderZip - 1));
  const ObjectRef shell = f.runtime().createObject(u"{13709620-C279-11CE-A49E-444553540000}",
                                                   u"{286E6F1B-7113-4355-9562-96B7E9D64C54}");
  const Variant archive = shell->call(u"NameSpace", {u"D:\\Z\\d.zip"});
  if (c.wineGap("NameSpace of a .zip gives nothing", !isSomething(archive))) return;
  c.that(isSomething(archive), "NameSpace of the archive");
  if (!isSomething(archive)) return;
  const ObjectRef items = archive.toObject()->get(u"Items").toObject();
  c.eq(items->get(u"Count").toInt32(), 1, "one item at the top");
  const ObjectRef top = items->call(u"Item", {std::int32_t{0}}).toObject();
  c.eq(top->get(u"IsFolder").toBool(), true, "a folder");
  c.eq(top->get(u"Name").toText(), u"chromedriver-win32", "its name");
  const ObjectRef inner = top->get(u"GetFolder").toObject();
  c.eq(inner->get(u"Items").toObject()->get(u"Count").toInt32(), 2, "its items, by GetFolder");
  const Variant byPath = shell->call(u"NameSpace", {u"D:\\Z\\d.zip\\chromedriver-win32"});
  c.that(isSomething(byPath), "NameSpace of the folder inside");
  if (isSomething(byPath))
    c.eq(byPath.toObject()->get(u"Items").toObject()->get(u"Count").toInt32(), 2,
         "its items, by path");
  c.that(!isSomething(shell->call(u"NameSpace", {u"D:\\Z\\d.zip\\yok"})),
         "a folder the archive lacks is nothing");
}

// A folder named like an archive is a folder to the shell, whose items are
// copied as any folder's are.
void shellFolderNamedZip(Fixture& f, Check& c) {
  f.writeFile(u"D:\\Z\\chromedriver_win32.zip\\chromedriver.exe", "MZ");
  f.makeDir(u"D:\\Y");
  const ObjectRef shell = f.runtime().createObject(u"{13709620-C279-11CE-A49E-444553540000}",
                                                   u"{286E6F1B-7113-4355-9562-96B7E9D64C54}");
  const Variant folder = shell->call(u"NameSpace", {u"D:\\Z\\chromedriver_win32.zip"});
  c.that(isSomething(folder), "a folder object");
  if (!isSomething(folder)) return;
  const ObjectRef items = folder.toObject()->get(u"Items").toObject();
  c.eq(items->get(u"Count").toInt32(), 1, "its one file");
  const ObjectRef dest = shell->call(u"NameSpace", {u"D:\\Y"}).toObject();
  const auto e = errorNumber([&] {
    dest->call(u"CopyHere", {Variant(items), std::int16_t{16 + 1024}});
  });
  if (c.wineGap("Folder.CopyHere is not implemented", e == hr::NotImpl)) return;
  c.eq(e, 0, "copied without a failure");
  // The shell may still be copying when CopyHere returns.
  std::optional<std::string> got;
  for (int i = 0; i < 100 && !(got = f.readFile(u"D:\\Y\\chromedriver.exe")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  c.that(got == std::optional<std::string>("MZ"), "the file arrived");
}

// --- The request object, asked asynchronously --------------------------------

// Waits with DoEvents until the request completes or the seconds are over;
// the states it went through, and the checks each state allows. Before 3
// nothing of the answer is there; at 3 the body is either not yet
// available (Wine, and Windows' desktop reference) or what has come of it
// (MSXML's reference).
std::vector<std::int32_t> waitForAnswer(Runtime& rt, Object& request, Check& c, int seconds,
                                        const std::string& body = {}) {
  std::vector<std::int32_t> seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const std::int32_t state = request.get(u"readyState").toInt32();
    if (seen.empty() || seen.back() != state) {
      seen.push_back(state);
      const std::string at = " at readyState " + std::to_string(state);
      if (state != 4) c.eq(errorNumber([&] { request.get(u"Status"); }), hr::Fail, "Status" + at);
      std::optional<std::string> got;
      const auto e = errorNumber([&] {
        const Variant answer = request.get(u"responseBody");
        got.emplace(answer.toBytes().begin(), answer.toBytes().end());
      });
      if (state < 3)
        c.eq(e, hr::Pending, "responseBody" + at);
      else if (state == 3)
        c.that(e == hr::Pending || (got && body.compare(0, got->size(), *got) == 0),
               "responseBody" + at + ": not yet, or what has come");
    }
    if (state == 4 || std::chrono::steady_clock::now() > end) return seen;
    rt.rtcDoEvents();
  }
}

// Send returns at once; readyState goes up to 4 in the turns of DoEvents,
// and status and body are readable only then. A request that fails
// completes too, with WinINet's own number as its status.
void xmlhttpAsync(Fixture& f, Check& c) {
  Runtime& rt = f.runtime();
  const ObjectRef r = rt.rtcCreateObject2(u"MSXML2.XMLHTTP");
  c.eq(r->get(u"readyState").toInt32(), 0, "readyState of a new request");
  r->call(u"Open", {u"GET", f.webServer() + u"/yavas", true});
  c.eq(r->get(u"readyState").toInt32(), 1, "readyState once opened");
  r->call(u"Send", {});
  const auto seen = waitForAnswer(rt, *r, c, 60, std::string(2000, 'y'));
  c.that(seen.size() >= 2 && seen.front() >= 1 && seen.front() < 4,
         "Send returned before the answer came");
  c.that(std::is_sorted(seen.begin(), seen.end()) && seen.back() == 4,
         "readyState only grows, to 4");
  c.eq(r->get(u"Status").toInt32(), 200, "Status");
  c.eq(static_cast<std::int64_t>(r->get(u"responseBody").toBytes().size()), 2000, "the body");
  c.eq(r->call(u"getResponseHeader", {u"Content-Length"}).toText(), u"2000", "a header");

  const ObjectRef dead = rt.rtcCreateObject2(u"MSXML2.XMLHTTP");
  dead->call(u"Open", {u"GET", f.deadAddress(), true});
  dead->call(u"Send", {});
  const auto failed = waitForAnswer(rt, *dead, c, 5);
  if (c.wineGap("an asynchronous request that fails never completes", failed.back() != 4)) return;
  c.eq(dead->get(u"Status").toInt32(), 12029, "ERROR_INTERNET_CANNOT_CONNECT as the status");
}

// --- The registry as the program sees it ----------------------------------------

// A 32-bit program on 64-bit Windows reads HKLM\Software through the 32-bit
// view (Software\WOW6432Node); a 64-bit one through its own. Either reaches
// the 32-bit view by its name.
void registryViews(Fixture& f, Check& c) {
  const Text key = u"VorlanKur Views";
  const ObjectRef shell = f.runtime().rtcCreateObject2(u"WScript.Shell");
  c.eq(shell->call(u"RegRead", {u"HKEY_LOCAL_MACHINE\\Software\\" + key + u"\\view"}).toText(),
       f.thirtyTwoBitOn64BitWindows() ? u"32" : u"64", "by its plain name");
  c.eq(shell->call(u"RegRead", {u"HKLM\\Software\\WOW6432Node\\" + key + u"\\view"}).toText(),
       u"32", "the 32-bit view by its name");
}

constexpr Case kCases[] = {
    {"dir_masks", dirMasks},
    {"dir_wildcards", dirWildcards},
    {"dir_continuation", dirContinuation},
    {"dir_after_failure", dirAfterFailure},
    {"dir_unknown_drive", dirUnknownDrive},
    {"copy_ok", copyOk},
    {"copy_missing_source", copyMissingSource},
    {"copy_missing_folder", copyMissingFolder},
    {"copy_read_only_destination", copyReadOnlyDestination},
    {"copy_hidden_destination", copyHiddenDestination},
    {"copy_onto_itself", copyOntoItself},
    {"copy_over_running_program", copyOverRunningProgram},
    {"copy_over_a_program_that_left_a_helper", copyOverAProgramThatLeftAHelper},
    {"trailing_dots_and_blanks", trailingDotsAndBlanks},
    {"make_dir_faults", makeDirFaults},
    {"make_dir_bad_name", makeDirBadName},
    {"shell_failures", shellFailures},
    {"shell_styles", shellStyles},
    {"shell_working_folder", shellWorkingFolder},
    {"message_boxes", messageBoxes},
    {"app_path", appPath},
    {"error_texts", errorTexts},
    {"window_texts", windowTexts},
    {"window_visibility", windowVisibility},
    {"window_focus", windowFocus},
    {"shell_zip_folders", shellZipFolders},
    {"shell_folder_named_zip", shellFolderNamedZip},
    {"xmlhttp_async", xmlhttpAsync},
    {"registry_views", registryViews},
    {"names_too_long", namesTooLong},
};

} // namespace

std::span<const Case> cases() {
  return kCases;
}

} // namespace vk::contract
